// Screenshots of the main window for review by eye: idle, listening with translation, a
// summary open and the setup sheet with its language list, light and dark, English and Russian.

#include "WorkspaceScenes.h"

#include "kit/widgets/KavrelPill.h"
#include "workspace/widgets/ListeningSetupSheet.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>

using namespace WorkspaceTest;

class tst_WorkspaceScreenshots final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scenes();
    void rowsLayoutWithSummary();
    void suggestedAnswer();
    void summaryFallback();
    void narrowWindow();
};

void tst_WorkspaceScreenshots::scenes()
{
    for (const Screenshots::Variant &variant : Screenshots::variants()) {
        Workspace w;
        applyVariant(w, variant);
        ScreenFitCheck::resizeWindow(w.view.get(), QSize(1180, 840));
        w.view->show();
        QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-idle"), variant).isEmpty());

        QVERIFY(listenWithTurns(w));
        QTest::qWait(120);
        QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-listening"), variant).isEmpty());
        // The activity pill ("Translating...") reads as the text it shows.
        for (KavrelPill *pill : w.view->findChildren<KavrelPill *>()) {
            if (!pill->isVisibleTo(w.view.get()) || pill->text().isEmpty())
                continue;
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(pill);
            QCOMPARE(accessible->role(), QAccessible::StaticText);
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(pill->text()));
        }

        QVERIFY(openSummary(w));
        QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-summary"), variant).isEmpty());
        QVERIFY(w.engine.stop());

        w.view->handlePrimaryAction();
        QVERIFY(QTest::qWaitFor([&] { return w.view->listeningSetupSheet() != nullptr; }));
        ListeningSetupSheet *sheet = w.view->listeningSetupSheet();
        sheet->setPalette(w.view->palette());
        QVERIFY(!Screenshots::write(sheet, QStringLiteral("workspace-sheet"), variant).isEmpty());

        // The language list open: its current row is the selected one.
        QComboBox *languages = sheet->sourcePicker();
        languages->showPopup();
        QWidget *list = languages->view()->window();
        QVERIFY(list->isVisible());
        QVERIFY(languages->view()->selectionModel()->isSelected(languages->view()->currentIndex()));
        QVERIFY(!Screenshots::write(list, QStringLiteral("workspace-sheet-languages"), variant).isEmpty());
        languages->hidePopup();
        sheet->reject();
    }
}

void tst_WorkspaceScreenshots::rowsLayoutWithSummary()
{
    const Screenshots::Variant variant = Screenshots::variants().constFirst();
    Workspace w;
    w.engine.defaults->setString(QString::fromLatin1(WorkspaceLayout::layoutDefaultsKey), QStringLiteral("rows"));
    applyVariant(w, variant);
    ScreenFitCheck::resizeWindow(w.view.get(), QSize(900, 900));
    w.view->show();
    QVERIFY(listenWithTurns(w, 12));
    QVERIFY(openSummary(w));
    QVERIFY(w.view->usesScrollableRowsWorkspace());
    QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-rows-summary"), variant).isEmpty());
    QVERIFY(w.engine.stop());
}

void tst_WorkspaceScreenshots::suggestedAnswer()
{
    const Screenshots::Variant variant = Screenshots::variants().at(1); // dark, English
    Workspace w;
    applyVariant(w, variant);
    ScreenFitCheck::resizeWindow(w.view.get(), QSize(1180, 900));
    w.view->show();
    QVERIFY(listenWithTurns(w, 8));
    w.auth->setChatCompletionReply(chatReply(QStringLiteral("Thursday works for us; let's confirm the numbers by Wednesday evening.")));
    w.engine.model->suggestSourceAnswer();
    QVERIFY(QTest::qWaitFor([&] {
        return w.engine.model->isTranscriptAnswerVisible() && !w.engine.model->isTranscriptAnswerLoading();
    }, 10000));
    QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-answer"), variant).isEmpty());
    QVERIFY(w.engine.stop());
}

// The AI summary failed: the notice line, and the local fallback under it.
void tst_WorkspaceScreenshots::summaryFallback()
{
    for (const Screenshots::Variant &variant : Screenshots::variants()) {
        if (variant.language != KavrelAppLanguage::russian)
            continue;
        Workspace w;
        applyVariant(w, variant);
        ScreenFitCheck::resizeWindow(w.view.get(), QSize(1180, 840));
        w.view->show();
        QVERIFY(listenWithTurns(w, 8));
        w.auth->setChatCompletionReply(FakeResponse::json(502, QJsonObject{{"error", QJsonObject{{"message", "down"}}}}));
        w.engine.model->summarizeSourceText();
        QVERIFY(QTest::qWaitFor([&] {
            return w.engine.model->isTranscriptSummaryVisible() && !w.engine.model->isTranscriptSummaryLoading();
        }, 10000));
        QVERIFY(w.engine.model->transcriptSummaryErrorMessage());
        QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-summary-fallback"), variant).isEmpty());
        QVERIFY(w.engine.stop());
    }
}

// A 980 px main window: the workspace beside the sidebar, listening with translation.
void tst_WorkspaceScreenshots::narrowWindow()
{
    for (const Screenshots::Variant &variant : Screenshots::variants()) {
        if (variant.language != KavrelAppLanguage::russian)
            continue;
        Workspace w;
        applyVariant(w, variant);
        ScreenFitCheck::resizeWindow(w.view.get(), QSize(980 - 138, 640));
        w.view->show();
        QVERIFY(listenWithTurns(w));
        QTest::qWait(120); // "Translating..." shows beside the buttons
        QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-listening-narrow"), variant).isEmpty());
        QVERIFY(w.engine.stop());
    }
}

QTEST_MAIN(tst_WorkspaceScreenshots)
#include "tst_WorkspaceScreenshots.moc"

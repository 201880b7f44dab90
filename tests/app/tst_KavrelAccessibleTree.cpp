// The program's windows as a screen reader walks them, on the real X server with the accessibility
// bus up (as with a screen reader running, Qt's views keep their accessible rows in step with
// their models): every part of every window is asked for children at -1, at its count and past
// it, for cells out of range, and for children at the count it had before the content changed,
// while a meeting fills the transcript columns and they empty again, the AI panel opens, History
// shows cards, is searched, opens one and loses one, and Settings opens; every text is asked for
// its items at its edges. Nothing may crash or hang, and nothing out of range may be answered.

#include "ProgramOverTheSession.h"

#include "app/widgets/KavrelApp.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistorySearchField.h"
#include "history/widgets/KavrelHistoryView.h"
#include "screens/KavrelWorkspaceShellModel.h"
#include "screens/widgets/KavrelWorkspaceShellView.h"
#include "support/AccessibilityBus.h"
#include "support/AccessibleBounds.h"
#include "support/FakeHistoryBackend.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QJsonObject>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

namespace {

// Walks every window of the program after each step, asking also at the counts of the walk before.
class Walker
{
public:
    void step(const QString &what)
    {
        QTest::qWait(150);
        QList<QAccessibleInterface *> roots{QAccessible::queryAccessibleInterface(qApp)};
        // Windows the application's root leaves out (pop-up menus, hidden windows) a client can
        // still hold.
        for (QWidget *window : QApplication::topLevelWidgets())
            roots.append(QAccessible::queryAccessibleInterface(window));
        AccessibleBounds::Counts now;
        for (const QString &fault : AccessibleBounds::walk(roots, &now, m_counts))
            m_faults.append(what + QStringLiteral(": ") + fault);
        m_parts += now.size();
        m_counts = now;
    }

    QStringList faults() const { return m_faults; }
    qsizetype parts() const { return m_parts; }

private:
    AccessibleBounds::Counts m_counts;
    QStringList m_faults;
    qsizetype m_parts = 0;
};

} // namespace

class tst_KavrelAccessibleTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyPartAsTheContentComesAndGoes();
};

void tst_KavrelAccessibleTree::everyPartAsTheContentComesAndGoes()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    AccessibilityBus::Listener bus(false);
    if (QTest::currentTestFailed())
        return;
    AppTest::ProgramOverTheSession program(true);
    FakeHistoryBackend history(&program.backend);
    for (int i = 1; i <= 6; ++i) {
        history.addMeeting(QStringLiteral("workspace-1"), QJsonObject{{"title", QStringLiteral("Standup %1").arg(i)},
                                                                      {"status", "completed"},
                                                                      {"durationSeconds", i * 60}});
    }
    program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    QWidget *window = program.mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    Walker walker;
    walker.step(QStringLiteral("launch"));

    // A meeting fills the transcript and translation columns until they scroll, the AI panel
    // opens beside them; then the columns empty again.
    QVERIFY(program.engine.start());
    for (const int turns : {80, 1, 120, 0}) {
        WorkspaceTest::fillTurns(program.engine, turns, true);
        walker.step(QStringLiteral("%1 turns").arg(turns));
        if (turns == 80) {
            program.engine.model->summarizeSourceText();
            QVERIFY(program.engine.settle([&] {
                return program.engine.model->isTranscriptSummaryVisible() && !program.engine.model->isTranscriptSummaryLoading();
            }, 10000));
            walker.step(QStringLiteral("summary"));
        }
    }
    QVERIFY(program.engine.stop());
    walker.step(QStringLiteral("stopped"));

    // History: the cards come, one opens and closes, one goes.
    auto *shell = window->findChild<KavrelWorkspaceShellView *>();
    QVERIFY(shell);
    shell->model()->selectSection(KavrelAppSection::history);
    KavrelHistoryView *historyView = nullptr;
    QTRY_VERIFY((historyView = window->findChild<KavrelHistoryView *>()) && historyView->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(historyView->listView()->model()->rowCount(), 6, 10000);
    walker.step(QStringLiteral("history"));
    // Typing leaves the caret at the end of the search, where a screen reader asks for the word
    // typed.
    QLineEdit *search = historyView->searchField()->lineEdit();
    QSignalSpy loads(historyView->viewModel(), &KavrelHistoryViewModel::isLoadingChanged);
    QTest::keyClicks(search, QStringLiteral("Standup"));
    QTRY_VERIFY_WITH_TIMEOUT(loads.size() >= 2 && !historyView->viewModel()->isLoading(), 10000);
    walker.step(QStringLiteral("history searched"));
    loads.clear();
    QTest::keyClick(search, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(search, Qt::Key_Backspace);
    QTRY_VERIFY_WITH_TIMEOUT(loads.size() >= 2 && !historyView->viewModel()->isLoading(), 10000);
    QCOMPARE(historyView->listView()->model()->rowCount(), 6);
    QAccessibleInterface *cards = QAccessible::queryAccessibleInterface(historyView->listView());
    cards->child(0)->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY_WITH_TIMEOUT(historyView->detailSheet() && historyView->detailSheet()->isVisible(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!historyView->viewModel()->isLoadingDetail(), 10000);
    walker.step(QStringLiteral("history detail"));
    historyView->detailSheet()->reject();
    QTRY_VERIFY(!historyView->detailSheet() || !historyView->detailSheet()->isVisible());
    cards->child(1)->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY(historyView->deleteConfirmation() && historyView->deleteConfirmation()->isVisible());
    walker.step(QStringLiteral("delete confirmation"));
    for (QAbstractButton *button : historyView->deleteConfirmation()->buttons()) {
        if (historyView->deleteConfirmation()->buttonRole(button) == QMessageBox::DestructiveRole)
            button->click();
    }
    QTRY_COMPARE_WITH_TIMEOUT(historyView->listView()->model()->rowCount(), 5, 10000);
    walker.step(QStringLiteral("a card deleted"));

    program.app->openWindow(QStringLiteral("kavrel-settings"));
    QVERIFY(QTest::qWaitForWindowExposed(program.app->window(QStringLiteral("kavrel-settings"))));
    walker.step(QStringLiteral("settings"));

    qInfo() << "parts asked:" << walker.parts();
    QVERIFY2(walker.faults().isEmpty(), qPrintable(walker.faults().join(QLatin1Char('\n'))));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("KAVREL_TEST_X11") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    tst_KavrelAccessibleTree test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelAccessibleTree.moc"

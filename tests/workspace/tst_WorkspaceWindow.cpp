// The main window's behaviour: the toolbar, the warning, the dialogue panels (rows updated
// in place, scrolling once per burst and never against the user), placeholders, text size,
// copy and clear, the AI result panels, the microphone menu and the setup sheet's controls.

#include "WorkspaceScenes.h"

#include "app/widgets/KavrelAppearanceController.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelIconButton.h"
#include "kit/widgets/KavrelSwitch.h"
#include "workspace/widgets/AssistantColumn.h"
#include "workspace/widgets/DialogueBadgeObject.h"
#include "workspace/widgets/DialogueHistoryPanel.h"
#include "workspace/widgets/InlineStatusMessage.h"
#include "workspace/widgets/ListeningSetupSheet.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/widgets/MicrophoneLevelBars.h"
#include "workspace/widgets/MicrophoneOffWarningBanner.h"
#include "workspace/widgets/PrimaryActionButton.h"
#include "workspace/widgets/ResultPanel.h"
#include "workspace/widgets/WorkspaceMicrophoneControl.h"
#include "workspace/widgets/WorkspaceTextColumn.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>

using namespace WorkspaceTest;
using namespace std::chrono_literals;

namespace {

QStringList menuEntries(QMenu *menu)
{
    QStringList entries;
    for (QAction *action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text() + (action->isEnabled() ? "" : " (off)"));
    return entries;
}

// Counts the paint events a widget receives, and how much of it they covered.
class PaintCounter final : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;
    qint64 pixels = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++count;
            for (const QRect &part : static_cast<QPaintEvent *>(event)->region())
                pixels += qint64(part.width()) * part.height();
        }
        return false;
    }
};

} // namespace

class tst_WorkspaceWindow final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toolbarFollowsTheSessionAndFocusMode();
    void hiddenWarningComesBackAfterAChange();
    void dialogueRowsAreUpdatedInPlace();
    void scrollsOncePerBurstAndNotAgainstTheUser();
    void scrollingMovesThePixelsAndDrawsWhatComesIntoView_data();
    void scrollingMovesThePixelsAndDrawsWhatComesIntoView();
    void badgeSizesFollowTheLabelAndTheFont();
    void placeholdersAndTextSize();
    void copyAndClear();
    void resultPanels();
    void errorLinesReadUnderEitherAppearance_data();
    void errorLinesReadUnderEitherAppearance();
    void microphoneMenuAndLevel();
    void levelBarsFade();
    void levelChangesBlurNoShadowAgain();
    void levelBarsRepaintOnlyThemselves();
    void setupSheetControls();
    void setupSheetSwitchesChangeTheirSettingEveryWay_data();
    void setupSheetSwitchesChangeTheirSettingEveryWay();
};

void tst_WorkspaceWindow::toolbarFollowsTheSessionAndFocusMode()
{
    Workspace w;
    w.view->resize(1200, 820);
    w.view->show();
    QVERIFY(w.view->primaryButton()->isVisibleTo(w.view.get()));
    QCOMPARE(w.view->primaryButton()->text(), QStringLiteral("Start Listening"));
    QCOMPARE(w.view->primaryButton()->subtitle(), QStringLiteral("system audio"));
    QVERIFY(!w.view->newButton()->isVisibleTo(w.view.get()));
    QVERIFY(!w.view->focusButton()->isVisibleTo(w.view.get()));
    QVERIFY(!w.view->microphoneControl()->isVisibleTo(w.view.get()));
    QVERIFY(w.view->primaryButton()->isEnabled());

    QVERIFY(w.engine.start());
    QCOMPARE(w.view->primaryButton()->text(), QStringLiteral("Stop Listening"));
    QVERIFY(w.view->primaryButton()->subtitle().isEmpty());
    QVERIFY(w.view->microphoneControl()->isVisibleTo(w.view.get()));
    QVERIFY(w.view->newButton()->isVisibleTo(w.view.get()));
    QCOMPARE(w.view->focusButton()->text(), QStringLiteral("Focus"));

    w.view->focusButton()->click();
    QVERIFY(w.view->isFocusModeEnabled());
    QVERIFY(w.engine.model->companionSet()->history()->focusModeEnabled());
    QCOMPARE(w.view->focusButton()->text(), QStringLiteral("Exit"));
    // Active, the button wears the primary text colour.
    const QPalette palette = w.view->focusButton()->palette();
    QCOMPARE(w.view->focusButton()->look().foreground.resolve(palette), KavrelSystemColors::label.resolve(palette));
    QVERIFY(!w.view->primaryButton()->isVisibleTo(w.view.get()));
    QVERIFY(!w.view->microphoneControl()->isVisibleTo(w.view.get()));
    QVERIFY(w.view->newButton()->isVisibleTo(w.view.get()));
    // The shell may switch the shared setting off.
    w.engine.defaults->setBool(QString::fromLatin1(WorkspaceLayout::focusModeDefaultsKey), false);
    QVERIFY(w.view->primaryButton()->isVisibleTo(w.view.get()));
    QVERIFY(!w.engine.model->companionSet()->history()->focusModeEnabled());

    QVERIFY(w.engine.stop());
    QCOMPARE(w.view->primaryButton()->text(), QStringLiteral("Start Listening"));
    QVERIFY(!w.view->newButton()->isVisibleTo(w.view.get()));
}

void tst_WorkspaceWindow::hiddenWarningComesBackAfterAChange()
{
    Workspace w;
    QVERIFY(w.engine.start());
    QVERIFY(w.model().shouldShowMicrophoneOffWarning());
    QVERIFY(w.view->microphoneOffWarning()->isVisibleTo(w.view.get()));
    w.view->microphoneOffWarning()->dismissButton()->click();
    QVERIFY(!w.view->microphoneOffWarning()->isVisibleTo(w.view.get()));

    w.model().toggleMicrophoneCapture();
    QVERIFY(w.engine.settle([&] { return w.model().isMicrophoneListening() && !w.model().isMicrophoneBusy(); }));
    w.model().toggleMicrophoneCapture();
    QVERIFY(w.engine.settle([&] { return !w.model().isMicrophoneListening() && !w.model().isMicrophoneBusy(); }));
    QCOMPARE(w.view->microphoneOffWarning()->isVisibleTo(w.view.get()), w.model().shouldShowMicrophoneOffWarning());
    QVERIFY(w.engine.stop());
}

void tst_WorkspaceWindow::dialogueRowsAreUpdatedInPlace()
{
    Workspace w;
    w.fillTurns(3, false);
    DialogueHistoryPanel *panel = w.view->transcriptColumn()->historyPanel();
    QCOMPARE(panel->shownRowCount(), 3);
    QTextDocument *document = panel->document();
    // A rebuilt document would lose these marks.
    for (int i = 0; i < 3; ++i)
        document->findBlockByNumber(i).setUserState(100 + i);

    SessionTurnStore *turns = w.model().turnStore();
    turns->applyFinalTranscript(QStringLiteral("A new final result."), true);
    QCOMPARE(panel->shownRowCount(), 4);
    QCOMPARE(document->blockCount(), 4);
    QVERIFY(document->findBlockByNumber(3).text().endsWith(QStringLiteral("A new final result.")));
    turns->setText(1, QStringLiteral("<b>edited</b> & plain"));
    QVERIFY(document->findBlockByNumber(1).text().endsWith(QStringLiteral("<b>edited</b> & plain")));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(document->findBlockByNumber(i).userState(), 100 + i);

    // The live line is one more block after the rows, and goes again.
    turns->setLiveSubtitlePreview(QStringLiteral("  speaking now \n"));
    QVERIFY(panel->showsDraftRow());
    QCOMPARE(document->blockCount(), 5);
    QCOMPARE(document->lastBlock().text(), QStringLiteral("speaking now"));
    turns->applyFinalTranscript(QStringLiteral("Another one."), true);
    QCOMPARE(document->blockCount(), 5);
    QVERIFY(document->findBlockByNumber(4).text().endsWith(QStringLiteral("Another one.")));
    QVERIFY(!panel->showsDraftRow());
    turns->setText(0, QStringLiteral("   "));
    QCOMPARE(panel->shownRowCount(), 4);
    QCOMPARE(document->blockCount(), 4);
    QCOMPARE(document->findBlockByNumber(0).userState(), 101);
}

void tst_WorkspaceWindow::scrollsOncePerBurstAndNotAgainstTheUser()
{
    Workspace w;
    w.view->resize(1200, 820);
    w.view->show();
    DialogueHistoryPanel *panel = w.view->transcriptColumn()->historyPanel();
    panel->setScrollDelay(30ms);
    w.fillTurns(40, false);
    QSignalSpy scrolls(panel, &DialogueHistoryPanel::scrolledToBottom);
    QVERIFY(scrolls.wait());
    QScrollBar *bar = panel->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    scrolls.clear();
    SessionTurnStore *turns = w.model().turnStore();
    for (int i = 0; i < 3; ++i)
        turns->applyFinalTranscript(QStringLiteral("Burst %1.").arg(i), true);
    QVERIFY(scrolls.wait());
    QTest::qWait(120);
    QCOMPARE(scrolls.count(), 1);
    QCOMPARE(bar->value(), bar->maximum());

    // An edit of an older row changes nothing at the end.
    scrolls.clear();
    turns->setText(2, QStringLiteral("changed"));
    QTest::qWait(120);
    QCOMPARE(scrolls.count(), 0);

    // The user scrolled up: new rows leave the view where it is.
    bar->setValue(0);
    QVERIFY(!panel->followsNewestRow());
    turns->applyFinalTranscript(QStringLiteral("While reading."), true);
    QTest::qWait(120);
    QCOMPARE(scrolls.count(), 0);
    QCOMPARE(bar->value(), 0);
    // Back at the end, it follows again.
    bar->setValue(bar->maximum());
    QVERIFY(panel->followsNewestRow());
    turns->applyFinalTranscript(QStringLiteral("Following."), true);
    QVERIFY(scrolls.wait());
    QCOMPARE(bar->value(), bar->maximum());
}

void tst_WorkspaceWindow::scrollingMovesThePixelsAndDrawsWhatComesIntoView_data()
{
    QTest::addColumn<int>("turns");
    QTest::newRow("long meeting, short handle") << 40;
    QTest::newRow("first minutes, handle most of the bar") << 14;
}

void tst_WorkspaceWindow::scrollingMovesThePixelsAndDrawsWhatComesIntoView()
{
    QFETCH(int, turns);
    Workspace w;
    w.view->resize(1200, 820);
    w.view->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.view.get()));
    DialogueHistoryPanel *panel = w.view->transcriptColumn()->historyPanel();
    panel->setScrollDelay(30ms);
    w.fillTurns(turns, false);
    QSignalSpy scrolls(panel, &DialogueHistoryPanel::scrolledToBottom);
    QVERIFY(scrolls.wait());
    QTest::qWait(50);
    QWidget *view = panel->viewport();
    QScrollBar *bar = panel->verticalScrollBar();
    // What is on the screen, against the view drawn afresh.
    const auto isFresh = [](QWidget *widget) {
        const QPoint at = widget->mapTo(widget->window(), QPoint(0, 0));
        const QImage screen = widget->screen()
                                  ->grabWindow(widget->window()->winId(), at.x(), at.y(), widget->width(), widget->height())
                                  .toImage();
        const QImage fresh = widget->grab().toImage();
        return screen.convertToFormat(QImage::Format_RGB32) == fresh.convertToFormat(QImage::Format_RGB32);
    };
    const auto onScreenIsFresh = [&] { return isFresh(view) && isFresh(bar); };
    QVERIFY(onScreenIsFresh());

    const qint64 whole = qint64(view->width()) * view->height();
    const double handleShare = double(bar->pageStep()) / (bar->maximum() - bar->minimum() + bar->pageStep());
    QVERIFY(turns > 20 || handleShare > 0.6);
    SessionTurnStore *store = w.model().turnStore();
    for (const QString &text : {QStringLiteral("One more row."), QStringLiteral("And another, long enough to wrap onto "
                                                                             "a second line in the panel at this size.")}) {
        PaintCounter painted(view);
        PaintCounter barPainted(bar);
        const int before = bar->maximum();
        store->applyFinalTranscript(text, true);
        QTRY_VERIFY(bar->maximum() > before && bar->value() == bar->maximum());
        QTest::qWait(50);
        // The new row, the box's rounded ends and the rows the edit touched: not the view. The
        // scroll bar redraws the ends of its handle, not its length nor the handle's.
        QVERIFY2(painted.pixels * 3 < whole, qPrintable(QStringLiteral("%1 of %2").arg(painted.pixels).arg(whole)));
        QVERIFY(barPainted.count > 0);
        QVERIFY2(barPainted.pixels * 4 < qint64(bar->width()) * bar->height() * barPainted.count,
                 qPrintable(QStringLiteral("%1 in %2 repaints").arg(barPainted.pixels).arg(barPainted.count)));
        QVERIFY(onScreenIsFresh());
    }

    // The user's own scrolling, up and back down.
    for (int step : {-90, -37, 127}) {
        PaintCounter painted(view);
        bar->setValue(bar->value() + step);
        QTest::qWait(30);
        QVERIFY(painted.pixels * 3 < whole);
        QVERIFY(onScreenIsFresh());
    }
}

void tst_WorkspaceWindow::badgeSizesFollowTheLabelAndTheFont()
{
    QTextDocument document;
    DialogueBadgeObject::install(&document);
    QTextObjectInterface *badges = document.documentLayout()->handlerForObject(DialogueBadgeObject::objectType);
    QVERIFY(badges);
    const auto size = [&](const QString &label) {
        return badges->intrinsicSize(&document, 0,
                                     DialogueBadgeObject::format(DialogueBadgeObject::Kind::speaker, label, Qt::black, Qt::white));
    };
    const QSizeF one = size(QStringLiteral("A"));
    const QSizeF twelve = size(QStringLiteral("Speaker 12"));
    QVERIFY(twelve.width() > one.width());
    QCOMPARE(size(QStringLiteral("A")), one);

    // A new font of the program's (the speaker badge follows it): measured again.
    const QFont before = QApplication::font();
    QFont spaced = before;
    spaced.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    QApplication::setFont(spaced);
    const QSizeF wider = size(QStringLiteral("Speaker 12"));
    QApplication::setFont(before);
    QVERIFY2(wider.width() >= twelve.width() + 30, qPrintable(QStringLiteral("%1 -> %2").arg(twelve.width()).arg(wider.width())));
    QCOMPARE(size(QStringLiteral("Speaker 12")), twelve);
}

void tst_WorkspaceWindow::placeholdersAndTextSize()
{
    Workspace w;
    WorkspaceTextColumn *transcript = w.view->transcriptColumn();
    WorkspaceTextColumn *translation = w.view->translationColumn();
    QVERIFY(transcript->showsPlaceholder());
    QCOMPARE(transcript->placeholderText(), QStringLiteral("Start listening or turn on the microphone to begin capturing transcript."));
    w.model().setTranslationEnabled(false);
    QCOMPARE(translation->placeholderText(), QStringLiteral("Translation is off for this session."));
    // A live line alone already shows the panel with its draft row.
    w.model().turnStore()->setLiveSubtitlePreview(QStringLiteral("hello"));
    QVERIFY(!transcript->showsPlaceholder());
    QVERIFY(transcript->historyPanel()->showsDraftRow());
    w.model().turnStore()->setLiveSubtitlePreview(QStringLiteral(" "));
    QVERIFY(transcript->showsPlaceholder());
    QVERIFY(w.engine.start());
    QCOMPARE(transcript->placeholderText(), QStringLiteral("Transcript is live. You can edit it at any time during testing."));
    QVERIFY(w.engine.stop());

    w.model().setTranscriptFontSize(12);
    QVERIFY(!transcript->smallerTextButton()->isEnabled());
    transcript->largerTextButton()->click();
    QCOMPARE(w.model().transcriptFontSize(), 14.0);
    QCOMPARE(transcript->historyPanel()->fontSize(), 14.0);
    w.model().setTranscriptFontSize(29);
    transcript->largerTextButton()->click();
    QCOMPARE(w.model().transcriptFontSize(), 30.0);
    QVERIFY(!transcript->largerTextButton()->isEnabled());
    // The other column keeps its own size.
    QCOMPARE(w.model().translationFontSize(), 18.0);
}

void tst_WorkspaceWindow::copyAndClear()
{
    Workspace w;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    AssistantColumn *assistant = w.view->assistantColumn();
    QVERIFY(!w.view->transcriptColumn()->copyAllButton()->isEnabled());
    QVERIFY(!assistant->clearSubtitlesButton()->isEnabled());
    // Only a translation preview: nothing to clear.
    w.model().turnStore()->setLiveTranslationPreview(QStringLiteral("hola"));
    QVERIFY(!assistant->clearSubtitlesButton()->isEnabled());
    w.model().turnStore()->setLiveSubtitlePreview(QStringLiteral("   "));
    QVERIFY(assistant->clearSubtitlesButton()->isEnabled());
    w.model().turnStore()->setLiveSubtitlePreview(QString());

    w.fillTurns(2, true);
    QVERIFY(w.view->transcriptColumn()->copyAllButton()->isEnabled());
    QVERIFY(assistant->clearSubtitlesButton()->isEnabled());
    w.view->transcriptColumn()->copyAllButton()->click();
    QCOMPARE(clipboard->text(), w.model().subtitlesText().trimmed());
    w.view->translationColumn()->copyAllButton()->click();
    QCOMPARE(clipboard->text(), w.model().translatedText().trimmed());
}

void tst_WorkspaceWindow::resultPanels()
{
    // The panel on its own: which state shows, and when Copy can be used.
    Workspace w;
    ResultPanel panel(*w.engine.localization, true);
    panel.setContent(QStringLiteral("Summary"), QStringLiteral("old"), std::nullopt, true, QStringLiteral("Summarizing transcript..."),
                     QStringLiteral("No summary yet."));
    QCOMPARE(panel.state(), WorkspaceRules::ResultContent::loading);
    QVERIFY(!panel.copyButton()->isEnabled());
    panel.setContent(QStringLiteral("Summary"), QStringLiteral("old"), QString(), false, QString(), QString());
    QCOMPARE(panel.state(), WorkspaceRules::ResultContent::error);
    QVERIFY(panel.copyButton()->isEnabled());
    // A failed request's local fallback shows under the error line, as Copy copies it.
    const QString failed = QStringLiteral("AI summary failed, showing a local fallback instead.");
    panel.setContent(QStringLiteral("Summary"), QStringLiteral("- We ship on Friday"), failed, false, QString(), QString());
    QCOMPARE(panel.state(), WorkspaceRules::ResultContent::error);
    QCOMPARE(panel.shownText(), failed + QStringLiteral("\n- We ship on Friday"));
    panel.setContent(QStringLiteral("Summary"), QString(), failed, false, QString(), QString());
    QCOMPARE(panel.shownText(), failed);
    panel.setContent(QStringLiteral("Summary"), QString(), std::nullopt, false, QString(), QStringLiteral("No summary yet."));
    QCOMPARE(panel.state(), WorkspaceRules::ResultContent::empty);
    QCOMPARE(panel.shownText(), QStringLiteral("No summary yet."));
    QVERIFY(!panel.copyButton()->isEnabled());

    // Through the view model: the summary opens under the transcript, its close button only
    // hides it, and in the rows layout it moves below the panels.
    w.fillTurns(4, false);
    QVERIFY(w.model().canSummarizeSource());
    QVERIFY(openSummary(w));
    WorkspaceTextColumn *transcript = w.view->transcriptColumn();
    QCOMPARE(transcript->body(), WorkspaceRules::ColumnBody::summary);
    QVERIFY(transcript->resultPanel()->isVisibleTo(transcript));
    QCOMPARE(transcript->resultPanel()->state(), WorkspaceRules::ResultContent::result);
    QGuiApplication::clipboard()->clear();
    transcript->resultPanel()->copyButton()->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), w.model().transcriptSummaryText());

    w.engine.defaults->setString(QString::fromLatin1(WorkspaceLayout::layoutDefaultsKey), QStringLiteral("rows"));
    QVERIFY(w.view->usesScrollableRowsWorkspace());
    QCOMPARE(transcript->body(), WorkspaceRules::ColumnBody::history);
    QCOMPARE(w.view->detachedTranscriptSummary()->state(), WorkspaceRules::ResultContent::result);
    w.engine.defaults->setString(QString::fromLatin1(WorkspaceLayout::layoutDefaultsKey), QStringLiteral("columns"));
    QCOMPARE(transcript->body(), WorkspaceRules::ColumnBody::summary);

    const QString text = w.model().transcriptSummaryText();
    transcript->resultPanel()->closeButton()->click();
    QVERIFY(!w.model().isTranscriptSummaryVisible());
    QCOMPARE(w.model().transcriptSummaryText(), text);
    QCOMPARE(transcript->body(), WorkspaceRules::ColumnBody::history);
}

void tst_WorkspaceWindow::errorLinesReadUnderEitherAppearance_data()
{
    QTest::addColumn<bool>("inResultPanel");
    QTest::newRow("status line") << false;
    QTest::newRow("result panel") << true;
}

void tst_WorkspaceWindow::errorLinesReadUnderEitherAppearance()
{
    // Red text on the window, built under one appearance and then switched back and forth.
    QFETCH(bool, inResultPanel);
    Workspace w;
    QWidget host;
    host.setPalette(KavrelAppearanceController::palette(KavrelColorScheme::light));
    const QString failed = QStringLiteral("Failed");
    if (inResultPanel) {
        auto *panel = new ResultPanel(*w.engine.localization, true, &host);
        panel->setContent(QStringLiteral("Summary"), QString(), failed, false, QString(), QString());
    } else {
        (new InlineStatusMessage(QColor::fromRgbF(0.90, 0.22, 0.21), &host))->setText(failed);
    }
    QLabel *line = nullptr;
    for (QLabel *label : host.findChildren<QLabel *>()) {
        if (label->text() == failed)
            line = label;
    }
    QVERIFY(line);
    for (KavrelColorScheme scheme : {KavrelColorScheme::light, KavrelColorScheme::dark, KavrelColorScheme::light}) {
        host.setPalette(KavrelAppearanceController::palette(scheme));
        const double contrast = kavrelContrastRatio(line->palette().color(QPalette::WindowText), host.palette().color(QPalette::Window));
        QVERIFY2(contrast >= 4.5, qPrintable(QString::number(contrast)));
    }
}

void tst_WorkspaceWindow::microphoneMenuAndLevel()
{
    Workspace w;
    WorkspaceMicrophoneControl *control = w.view->microphoneControl();
    w.model().refreshAvailableMicrophones();
    std::unique_ptr<QMenu> menu(control->buildMenu(nullptr));
    QCOMPARE(menuEntries(menu.get()), (QStringList{"Alpha (off)", "Beta", "-", "Start test"}));
    QCOMPARE(control->labelText(), QStringLiteral("Mic: Alpha"));
    QCOMPARE(control->toolTip(), QStringLiteral("Turn microphone on. Right-click to choose a microphone."));
    menu->actions().at(1)->trigger();
    QCOMPARE(w.model().selectedMicrophoneID(), QStringLiteral("mic-b"));

    w.engine.microphones->devices.clear();
    w.model().refreshAvailableMicrophones();
    menu.reset(control->buildMenu(nullptr));
    QCOMPARE(menuEntries(menu.get()), (QStringList{"No microphone devices available (off)", "-", "Start test (off)"}));
    QCOMPARE(control->labelText(), QStringLiteral("Mic: Default microphone"));

    // Grey bars whatever the level while nothing is captured or tested.
    MicrophoneLevelBars *bars = control->levelBars();
    bars->setLevel(1.0, false);
    QCOMPARE(bars->litBars(), 0);
    bars->setLevel(0.5, true);
    QCOMPARE(bars->litBars(), 2);

    // Hidden bars take a change at once: nobody would see the fade.
    bars->setLevel(0, true);
    QVERIFY(!bars->isFading());
    QCOMPARE(bars->shownFill(0), QColor::fromRgbF(1, 1, 1, 0.35f));
}

// A change fades the bars from what they showed to their new colours, in a few frames; a change
// during a fade starts from the colour on screen, not from either end.
void tst_WorkspaceWindow::levelBarsFade()
{
    MicrophoneLevelBars shownBars;
    MicrophoneLevelBars *bars = &shownBars;
    bars->show();
    QVERIFY(QTest::qWaitForWindowExposed(bars));
    const QColor lit = QColor::fromRgbF(0.2f, 0.78f, 0.41f);
    const QColor unlit = QColor::fromRgbF(1, 1, 1, 0.35f);
    bars->setLevel(0.5, true);
    QTRY_VERIFY(!bars->isFading());
    QCOMPARE(bars->shownFill(1), lit);

    // One change draws its fade in steps, not at the display's rate, and ends on its colours.
    PaintCounter paints(bars);
    bars->setLevel(1.0, true);
    QVERIFY(bars->isFading());
    QTRY_VERIFY(!bars->isFading());
    QCoreApplication::processEvents();
    QVERIFY2(paints.count >= 2 && paints.count <= MicrophoneLevelBars::fadeMilliseconds / MicrophoneLevelBars::fadeStepMilliseconds + 2,
             qPrintable(QString::number(paints.count)));
    QCOMPARE(bars->grab().toImage().pixelColor(3 * 7 + 2, bars->height() - 2).rgb(), lit.rgb());

    // A new picture beneath: the bars' kept frames showed the old one.
    const QPoint between(5, 1); // between the first two bars, above the shortest
    for (const QColor beneath : {QColor(Qt::red), QColor(Qt::blue)}) {
        QPixmap picture(bars->size() * bars->devicePixelRatioF());
        picture.setDevicePixelRatio(bars->devicePixelRatioF());
        picture.fill(beneath);
        bars->setOpaqueBackdrop(picture);
        QCOMPARE(bars->grab().toImage().pixelColor(between).rgb(), beneath.rgb());
        QCOMPARE(bars->grab().toImage().pixelColor(3 * 7 + 2, bars->height() - 2).rgb(), lit.rgb());
    }
    bars->setOpaqueBackdrop(QPixmap());

    bars->setLevel(0.5, true);
    QTRY_VERIFY(!bars->isFading());
    bars->setLevel(0, true);
    bars->holdFade(0);
    QCOMPARE(bars->shownFill(0), lit);
    bars->holdFade(MicrophoneLevelBars::fadeMilliseconds / 2);
    const QColor halfway = bars->shownFill(0);
    QVERIFY(halfway.alphaF() < lit.alphaF() && halfway.alphaF() > unlit.alphaF());
    QVERIFY(halfway.greenF() > lit.greenF() && halfway.greenF() < unlit.greenF());
    bars->setLevel(1.0, true);
    bars->holdFade(0);
    QCOMPARE(bars->shownFill(0), halfway);
    QCOMPARE(bars->shownFill(3), unlit);
    bars->holdFade(MicrophoneLevelBars::fadeMilliseconds);
    QCOMPARE(bars->shownFill(0), lit);
    QCOMPARE(bars->shownFill(3), lit);

    // A fade that began part way through another is drawn as any frame is: the picture beneath,
    // then the bars in their colours of the moment.
    QPixmap red(bars->size() * bars->devicePixelRatioF());
    red.setDevicePixelRatio(bars->devicePixelRatioF());
    red.fill(Qt::red);
    bars->setOpaqueBackdrop(red);
    bars->setLevel(0, true);
    bars->holdFade(MicrophoneLevelBars::fadeMilliseconds / 2);
    bars->setLevel(1.0, true);
    bars->holdFade(0);
    const QColor from = bars->shownFill(3);
    QVERIFY(from != unlit && from != lit);
    const QImage drawn = bars->grab().toImage();
    QCOMPARE(drawn.pixelColor(between).rgb(), QColor(Qt::red).rgb());
    const QColor bar = drawn.pixelColor(3 * 7 + 2, bars->height() - 10);
    const double alpha = from.alphaF();
    QVERIFY2(std::abs(bar.redF() - (from.redF() * alpha + (1 - alpha))) < 0.02
                 && std::abs(bar.greenF() - from.greenF() * alpha) < 0.02,
             qPrintable(bar.name(QColor::HexArgb) + QLatin1Char(' ') + from.name(QColor::HexArgb)));
}

// The level bars change many times a second while someone speaks; the button and the cards
// under them are drawn from what was kept, so no shadow is blurred again.
void tst_WorkspaceWindow::levelChangesBlurNoShadowAgain()
{
    Workspace w;
    w.view->resize(1100, 760);
    w.view->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.view.get()));
    QVERIFY(listenWithTurns(w, 4));
    QTRY_VERIFY(w.view->microphoneControl()->isVisible());
    MicrophoneLevelBars *bars = w.view->microphoneControl()->levelBars();
    bars->setLevel(0, true);
    QTRY_VERIFY(!bars->isFading());
    w.view->repaint();
    const quint64 before = KavrelPainting::softShadowRenderCount();
    for (double level : {0.3, 0.8, 1.0, 0.1, 0.6}) {
        bars->setLevel(level, true);
        QTRY_VERIFY(!bars->isFading());
        QCoreApplication::processEvents();
    }
    QCOMPARE(KavrelPainting::softShadowRenderCount(), before);
    // A change of the button itself draws it again (and blurs its shadow once the kept ones are gone).
    KavrelPainting::clearSoftShadowCache();
    w.view->microphoneControl()->setEnabled(!w.view->microphoneControl()->isEnabled());
    w.view->microphoneControl()->repaint();
    QVERIFY(KavrelPainting::softShadowRenderCount() > before);
    QVERIFY(w.engine.stop());
}

// While the microphone listens, the face under the bars is solid and the bars draw it
// themselves: their repaints stop at them, and look as the whole button drawn at once does.
void tst_WorkspaceWindow::levelBarsRepaintOnlyThemselves()
{
    Workspace w;
    w.view->resize(1100, 760);
    w.view->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.view.get()));
    QVERIFY(listenWithTurns(w, 4));
    w.model().toggleMicrophoneCapture();
    QVERIFY(w.engine.settle([&] { return w.model().isMicrophoneListening() && !w.model().isMicrophoneBusy(); }));
    WorkspaceMicrophoneControl *control = w.view->microphoneControl();
    QTRY_VERIFY(control->isVisible());
    control->repaint();
    QTest::qWait(100); // whatever the start left to draw
    MicrophoneLevelBars *bars = control->levelBars();
    QVERIFY(bars->testAttribute(Qt::WA_OpaquePaintEvent));

    PaintCounter buttonPaints(control);
    PaintCounter barPaints(bars);
    for (double level : {0.3, 0.9, 0.1}) {
        bars->setLevel(level, true);
        QTRY_VERIFY(!bars->isFading());
        QCoreApplication::processEvents();
    }
    QVERIFY(barPaints.count > 0);
    QCOMPARE(buttonPaints.count, 0);
    const qreal ratio = control->devicePixelRatioF();
    const QImage whole = control->grab().toImage();
    const QRect under(QPoint(qRound(bars->x() * ratio), qRound(bars->y() * ratio)), bars->size() * ratio);
    QCOMPARE(bars->grab().toImage().convertToFormat(whole.format()), whole.copy(under));

    // Off, the face under the bars is see-through again, and so are the bars.
    w.model().toggleMicrophoneCapture();
    QVERIFY(w.engine.settle([&] { return !w.model().isMicrophoneListening() && !w.model().isMicrophoneBusy(); }));
    control->repaint();
    QVERIFY(!bars->testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(w.engine.stop());
}

void tst_WorkspaceWindow::setupSheetControls()
{
    Workspace w;
    w.view->handlePrimaryAction();
    QVERIFY(QTest::qWaitFor([&] { return w.view->listeningSetupSheet() != nullptr; }));
    ListeningSetupSheet *sheet = w.view->listeningSetupSheet();

    QVERIFY(!w.model().startsWithMicrophoneEnabled());
    QVERIFY(!sheet->deviceMenuButton()->isEnabled());
    sheet->microphoneSwitch()->click();
    QVERIFY(w.model().startsWithMicrophoneEnabled());
    QVERIFY(sheet->deviceMenuButton()->isEnabled());
    QCOMPARE(w.engine.defaults->boolValue(QString::fromLatin1(SubtitleViewModel::startWithMicrophoneDefaultsKey), false), true);

    QVERIFY(sheet->targetPicker()->isEnabled());
    sheet->translationSwitch()->click();
    QVERIFY(!w.model().isTranslationEnabled());
    QVERIFY(!sheet->targetPicker()->isEnabled());
    sheet->translationSwitch()->click();

    // Listening in the current target language moves the target and turns translation off,
    // once, without the sheet writing anything back.
    QCOMPARE(w.model().selectedTranslationLanguage(), TranslationLanguageOption::english);
    QSignalSpy sourceChanges(&w.model(), &SubtitleViewModel::selectedSourceLanguageChanged);
    QSignalSpy targetChanges(&w.model(), &SubtitleViewModel::selectedTranslationLanguageChanged);
    const int english = 1;
    sheet->sourcePicker()->setCurrentIndex(english);
    Q_EMIT sheet->sourcePicker()->activated(english);
    QCOMPARE(w.model().selectedSourceLanguage(), SourceLanguageOption::english);
    QCOMPARE(w.model().selectedTranslationLanguage(), TranslationLanguageOption::russian);
    QVERIFY(!w.model().isTranslationEnabled());
    QCOMPARE(sourceChanges.count(), 1);
    QCOMPARE(targetChanges.count(), 1);
    QVERIFY(!sheet->translationSwitch()->isChecked());
    QCOMPARE(sheet->targetPicker()->count(), 4);
    QCOMPARE(sheet->targetPicker()->findText(QStringLiteral("English")), -1);
    QCOMPARE(sheet->targetPicker()->currentText(), QStringLiteral("Russian"));
    QVERIFY(w.view->translationLine()->isVisibleTo(w.view.get()));

    QVERIFY(sheet->startButton()->isEnabled());
    sheet->reject();
    QVERIFY(QTest::qWaitFor([&] { return !w.view->listeningSetupSheet(); }));
    QCOMPARE(w.model().selectedSourceLanguage(), SourceLanguageOption::english);
    QVERIFY(w.model().startsWithMicrophoneEnabled());
}

void tst_WorkspaceWindow::setupSheetSwitchesChangeTheirSettingEveryWay_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QString>("way");
    const QList<std::pair<QString, QByteArray>> switches{{QStringLiteral("microphone"), "startsWithMicrophoneEnabled"},
                                                        {QStringLiteral("recording"), "isAudioRecordingEnabled"},
                                                        {QStringLiteral("translation"), "isTranslationEnabled"}};
    // A screen reader offers a switch "Toggle"; pressing is the other action it may send.
    const QStringList ways{QStringLiteral("mouse"), QStringLiteral("space"), QAccessibleActionInterface::toggleAction(),
                           QAccessibleActionInterface::pressAction()};
    for (const auto &[control, setting] : switches) {
        for (const QString &way : ways)
            QTest::addRow("%s by %s", qPrintable(control), qPrintable(way)) << control << setting << way;
    }
}

void tst_WorkspaceWindow::setupSheetSwitchesChangeTheirSettingEveryWay()
{
    QFETCH(QString, control);
    QFETCH(QByteArray, setting);
    QFETCH(QString, way);
    Workspace w;
    w.view->handlePrimaryAction();
    QVERIFY(QTest::qWaitFor([&] { return w.view->listeningSetupSheet() && w.view->listeningSetupSheet()->isVisible(); }));
    ListeningSetupSheet *sheet = w.view->listeningSetupSheet();
    KavrelSwitch *toggle = control == QLatin1String("microphone") ? sheet->microphoneSwitch()
                           : control == QLatin1String("recording") ? sheet->recordingSwitch()
                                                                   : sheet->translationSwitch();
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(toggle);
    QVERIFY(accessible && accessible->actionInterface());
    QVERIFY(accessible->state().checkable);
    QVERIFY(!accessible->text(QAccessible::Name).isEmpty());
    QVERIFY(accessible->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));

    const auto change = [&] {
        if (way == QLatin1String("mouse"))
            QTest::mouseClick(toggle, Qt::LeftButton);
        else if (way == QLatin1String("space"))
            QTest::keyClick(toggle, Qt::Key_Space);
        else
            accessible->actionInterface()->doAction(way);
    };
    // Each way, there and back: the setting follows the picture, and a screen reader hears it.
    for (int round = 0; round < 2; ++round) {
        const bool before = w.model().property(setting).toBool();
        QCOMPARE(toggle->isChecked(), before);
        change();
        QTRY_COMPARE(toggle->isChecked(), !before);
        QCOMPARE(w.model().property(setting).toBool(), !before);
        QCOMPARE(accessible->state().checked, !before);
    }
}

QTEST_MAIN(tst_WorkspaceWindow)
#include "tst_WorkspaceWindow.moc"

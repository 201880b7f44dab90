#include "localization/KavrelLocalizationStore.h"
#include "app/KavrelMiniListeningTexts.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniMicrophoneControl.h"
#include "app/widgets/KavrelMiniTranscriptPanel.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "kit/widgets/KavrelSplitContainer.h"
#include "kit/widgets/KavrelSymbols.h"
#include "platform/UserDefaults.h"
#include "support/FakeSessionSurface.h"
#include "support/ScreenFitCheck.h"
#include "support/Screenshots.h"
#include "base/Text.h"
#include "session/PublishedTranscript.h"

#include <QImage>
#include <QMenu>
#include <QRect>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <limits>

#include <memory>

namespace {

struct Mini
{
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("prefs.ini"))};
    FakeSessionSurface session;
    bool trayAvailable = true;
    KavrelMiniWindowCoordinator windows{[] { return std::optional<X11WindowListSnapshot>(); }};
    KavrelPresentationStore presentation{windows, [this] { return trayAvailable; }};
    int mainWindowOpens = 0;
    std::unique_ptr<KavrelListeningMiniView> view;

    Mini()
    {
        session.state.hasActiveSession = true;
        session.state.status = SubtitleStatus::listening;
    }

    KavrelListeningMiniView &make(QSize size = QSize(720, 420))
    {
        view = std::make_unique<KavrelListeningMiniView>(session, presentation, defaults, [this] { ++mainWindowOpens; });
        view->resize(size);
        view->show();
        return *view;
    }
};

// The contrast of a symbol painted in `area` of a picture of `scene`, rendered at any device
// pixel ratio: the most common pixel is its background, the farthest from it its colour.
double symbolContrast(const QImage &picture, const QWidget *scene, const QRect &area)
{
    const qreal ratio = qreal(picture.width()) / std::max(1, scene->width());
    const QRect inside = area.adjusted(3, 3, -3, -3); // clear of the capsule's rim
    const QRect pixels(QPoint(int(inside.left() * ratio), int(inside.top() * ratio)), inside.size() * ratio);
    QHash<QRgb, int> counts;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x)
            ++counts[picture.pixel(x, y)];
    }
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    double farthest = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        farthest = std::max(farthest, kavrelContrastRatio(QColor(background), QColor(it.key())));
    return farthest;
}

} // namespace

class tst_KavrelListeningMiniView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void panelTexts_data();
    void panelTexts();
    void panelRowsFollowTheDialogue_data();
    void panelRowsFollowTheDialogue();
    void statusTitles_data();
    void statusTitles();
    void splitFollowsTheSettingsAndTheDrag();
    void translationOffShowsTheTranscriptAlone();
    void controlsAreInertWhileBusy();
    void microphoneMenuListsTheDevices();
    void footerButtons();
    void panelScrollsToTheEndOnce();
    void windowOpensInTheScreensFreeArea_data();
    void windowOpensInTheScreensFreeArea();
    void windowCatchesUpWithTheDrag_data();
    void windowCatchesUpWithTheDrag();
    void miniWindowScreenshots();
};

void tst_KavrelListeningMiniView::initTestCase()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    KavrelSymbols::setUsesIconTheme(false);
}

void tst_KavrelListeningMiniView::panelTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<QString>("shownText");
    QTest::addColumn<QString>("shownDraft");
    QTest::newRow("nothing yet") << "" << "" << "Waiting for speech..." << "";
    QTest::newRow("only a live draft") << "" << "  hello there \n" << "" << "hello there";
    QTest::newRow("white space only") << " \n\t " << "" << "Waiting for speech..." << "";
    QTest::newRow("trimmed") << "\n\nGood morning.\n" << "" << "[09:05:07] Good morning." << "";
    QTest::newRow("text and draft") << "Good morning." << "how are" << "[09:05:07] Good morning." << "how are";
}

void tst_KavrelListeningMiniView::panelTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, preview);
    QFETCH(QString, shownText);
    QFETCH(QString, shownDraft);
    Mini mini;
    mini.session.setTurns({{text, text}});
    mini.session.state.liveSubtitlePreview = preview;
    mini.session.state.liveTranslationPreview = preview;
    KavrelListeningMiniView &view = mini.make();
    QCOMPARE(view.transcriptPanel()->shownText(), shownText);
    QCOMPARE(view.transcriptPanel()->shownDraft(), shownDraft);
    // The translation side falls back to the view model's placeholder.
    const QString translationPlaceholder = shownText == QLatin1String("Waiting for speech...")
                                               ? mini.session.state.translationPlaceholderText
                                               : shownText;
    QCOMPARE(view.translationPanel()->shownText(), translationPlaceholder);
    QCOMPARE(view.translationPanel()->shownDraft(), shownDraft);
}

void tst_KavrelListeningMiniView::panelRowsFollowTheDialogue_data()
{
    // Steps: "text <turn> <words>" and "tr <turn> <words>" edit a closed turn (no words: the
    // row goes), "draft <words>" sets both live drafts, "reset <count>" replaces the dialogue,
    // "clear" empties it.
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("rows added at the end, in the middle and first")
        << QStringList{"text 5 sixth", "text 2 third", "text 0 first", "tr 3 fourth translated", "tr 0 first translated"};
    QTest::newRow("rows edited in place") << QStringList{"text 1 second again", "tr 4 fifth again", "text 4 fifth again"};
    QTest::newRow("rows removed: middle, last, first, all")
        << QStringList{"text 3", "text 4", "text 1", "tr 1", "tr 3", "tr 4", "text 3 back again"};
    QTest::newRow("the draft comes and goes around rows")
        << QStringList{"draft how are", "text 5 sixth", "draft   ", "draft you", "text 4", "text 1", "text 3", "draft "};
    QTest::newRow("rebuilt and cleared") << QStringList{"draft so", "reset 3", "text 0 edited", "clear", "draft ", "reset 2"};
}

// Each panel shows exactly the published column (or its placeholder) after every change, with
// the draft below it; a change of one row never rebuilds the others.
void tst_KavrelListeningMiniView::panelRowsFollowTheDialogue()
{
    QFETCH(QStringList, steps);
    Mini mini;
    // Turns 0, 2 and 5 have no text yet; turns 0, 1 and 2 no translation.
    mini.session.setTurns({{"", ""}, {"second", ""}, {"", ""}, {"fourth", "fourth tr"}, {"fifth", "fifth tr"}, {"", ""}});
    KavrelListeningMiniView &view = mini.make();
    using Column = PublishedTranscript::Column;
    const auto check = [&](const QString &step) {
        for (Column column : {Column::transcript, Column::translation}) {
            KavrelMiniTranscriptPanel *panel = column == Column::transcript ? view.transcriptPanel() : view.translationPanel();
            const QString published = mini.session.published.text(column);
            const QString draft = Text::trimmed(mini.session.state.liveSubtitlePreview);
            QString expected = published;
            if (published.isEmpty() && draft.isEmpty())
                expected = column == Column::transcript ? QStringLiteral("Waiting for speech...")
                                                        : mini.session.state.translationPlaceholderText;
            if (panel->shownText() != expected || panel->shownDraft() != draft) {
                qWarning().noquote() << "after" << step << "column" << int(column) << "shows" << panel->shownText() << "|"
                                     << panel->shownDraft();
                return false;
            }
            auto *document = qobject_cast<QTextEdit *>(panel->scrollArea())->document();
            const int blocks = int(published.isEmpty() ? 0 : published.count(u'\n') + 1) + (expected != published || !draft.isEmpty() ? 1 : 0);
            if (document->blockCount() != std::max(1, blocks)) {
                qWarning().noquote() << "after" << step << "blocks" << document->blockCount() << "expected" << blocks;
                return false;
            }
        }
        return true;
    };
    QVERIFY(check(QStringLiteral("start")));
    for (const QString &step : steps) {
        const QStringList words = step.split(u' ');
        const QString rest = words.mid(2).join(u' ');
        // Blocks the panel did not write anew keep their mark.
        QTextDocument *document = qobject_cast<QTextEdit *>(view.transcriptPanel()->scrollArea())->document();
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            block.setUserState(7);
        const bool rebuilds = words[0] == QLatin1String("reset") || words[0] == QLatin1String("clear")
                              || document->blockCount() <= 3;
        if (words[0] == QLatin1String("text"))
            mini.session.turns.setText(words[1].toInt(), rest);
        else if (words[0] == QLatin1String("tr"))
            mini.session.turns.setTranslationText(words[1].toInt(), rest);
        else if (words[0] == QLatin1String("draft"))
            mini.session.update([&](auto &s) { s.liveSubtitlePreview = s.liveTranslationPreview = step.mid(6); });
        else if (words[0] == QLatin1String("clear"))
            mini.session.turns.clear();
        else if (words[0] == QLatin1String("reset")) {
            std::vector<std::pair<QString, QString>> texts;
            for (int i = 0; i < words[1].toInt(); ++i)
                texts.push_back({QStringLiteral("again %1").arg(i), QStringLiteral("снова %1").arg(i)});
            mini.session.setTurns(texts);
        }
        mini.session.update([](auto &) {}); // every change of the surface refreshes the window
        QVERIFY2(check(step), qPrintable(step));
        int kept = 0;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            kept += block.userState() == 7 ? 1 : 0;
        if (!rebuilds)
            QVERIFY2(kept >= document->blockCount() - 2, qPrintable(step));
    }
}

void tst_KavrelListeningMiniView::statusTitles_data()
{
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("title");
    QTest::newRow("busy while active") << true << true << int(SubtitleStatus::listening) << "Preparing session";
    QTest::newRow("active") << false << true << int(SubtitleStatus::listening) << "Listening";
    QTest::newRow("stopped") << false << false << int(SubtitleStatus::stopped) << "Listening stopped";
    QTest::newRow("idle") << false << false << int(SubtitleStatus::idle) << "Ready to listen";
}

void tst_KavrelListeningMiniView::statusTitles()
{
    QFETCH(bool, busy);
    QFETCH(bool, active);
    QFETCH(int, status);
    QFETCH(QString, title);
    QCOMPARE(KavrelMiniListeningTexts::statusTitleKey(busy, active, SubtitleStatus(status)), title);
}

void tst_KavrelListeningMiniView::splitFollowsTheSettingsAndTheDrag()
{
    Mini mini;
    KavrelListeningMiniView &view = mini.make(QSize(436, 420)); // 400 wide between the 18 margins
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    KavrelSplitContainer *split = view.split();
    QCOMPARE(split->width(), 400);
    QCOMPARE(view.transcriptPanel()->width(), 200);
    QCOMPARE(view.translationPanel()->width(), 192);
    QCOMPARE(view.layoutPicker()->value(), QStringLiteral("columns"));

    // Dragging far past the start stores exactly the lower limit.
    KavrelSplitDivider *divider = split->divider();
    const QPoint centre = divider->rect().center();
    QTest::mousePress(divider, Qt::LeftButton, {}, centre);
    QTest::mouseMove(divider, centre + QPoint(-300, 0));
    QTest::mouseRelease(divider, Qt::LeftButton, {}, centre + QPoint(-300, 0));
    QCOMPARE(mini.defaults.doubleValue(QStringLiteral("kavrel.miniWindowSplit"), 0), 0.2);
    QCOMPARE(view.transcriptPanel()->width(), 90);

    // A stored value outside the drag range is used as is, within the panel minimums.
    mini.defaults.setDouble(QStringLiteral("kavrel.miniWindowSplit"), 0.9);
    QCOMPARE(view.transcriptPanel()->width(), 302);
    QCOMPARE(view.translationPanel()->width(), 90);
    // A broken stored value leaves the transcript at its smallest, as in the workspace.
    for (double broken : {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        mini.defaults.setDouble(QStringLiteral("kavrel.miniWindowSplit"), 0.9);
        mini.defaults.setDouble(QStringLiteral("kavrel.miniWindowSplit"), broken);
        QCOMPARE(view.transcriptPanel()->width(), 90);
        QCOMPARE(view.translationPanel()->width(), 302);
    }

    QSignalSpy picked(view.layoutPicker(), &KavrelSegmentedPicker::picked);
    QTest::mouseClick(view.layoutPicker(), Qt::LeftButton, {}, QPoint(view.layoutPicker()->width() * 3 / 4, 10));
    QCOMPARE(picked.count(), 1);
    QCOMPARE(mini.defaults.stringValue(QStringLiteral("kavrel.miniWindowLayout"), QString()), QStringLiteral("rows"));
    QCOMPARE(split->orientation(), Qt::Vertical);
    QCOMPARE(divider->cursor().shape(), Qt::SizeVerCursor);

    mini.defaults.setString(QStringLiteral("kavrel.miniWindowLayout"), QStringLiteral("diagonal"));
    QCOMPARE(split->orientation(), Qt::Horizontal);
    QCOMPARE(view.layoutPicker()->value(), QStringLiteral("diagonal")); // no segment selected
}

void tst_KavrelListeningMiniView::translationOffShowsTheTranscriptAlone()
{
    Mini mini;
    KavrelListeningMiniView &view = mini.make();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    mini.session.update([](auto &s) { s.isTranslationEnabled = false; });
    QVERIFY(!view.translationPanel()->isVisible());
    QVERIFY(!view.split()->divider()->isVisible());
    QCOMPARE(view.transcriptPanel()->geometry(), view.split()->rect());
    mini.session.update([](auto &s) { s.isTranslationEnabled = true; });
    QVERIFY(view.translationPanel()->isVisible());
    QVERIFY(view.split()->divider()->isVisible());
}

void tst_KavrelListeningMiniView::controlsAreInertWhileBusy()
{
    Mini mini;
    KavrelListeningMiniView &view = mini.make();
    QVERIFY(view.microphoneControl()->isEnabled());
    QVERIFY(view.stopButton()->isEnabled());
    QTest::mouseClick(view.stopButton(), Qt::LeftButton);
    QTest::mouseClick(view.microphoneControl()->toggleButton(), Qt::LeftButton);
    QCOMPARE(mini.session.commands, (QStringList{"stopActiveSession()", "toggleMicrophoneCapture()"}));

    // Each of the microphone's two buttons is off on its own (the one with the keyboard keeps it).
    const auto microphoneAvailable = [&view] {
        return KavrelFocusHold::looksAvailable(view.microphoneControl()->toggleButton())
               && KavrelFocusHold::looksAvailable(view.microphoneControl()->menuButton());
    };
    mini.session.update([](auto &s) { s.isMicrophoneBusy = true; });
    QVERIFY(!KavrelFocusHold::looksAvailable(view.microphoneControl()->toggleButton()));
    QVERIFY(!KavrelFocusHold::looksAvailable(view.microphoneControl()->menuButton()));
    QVERIFY(!KavrelFocusHold::looksAvailable(view.stopButton()));
    mini.session.update([](auto &s) {
        s.isMicrophoneBusy = false;
        s.isBusy = true;
    });
    QVERIFY(!KavrelFocusHold::looksAvailable(view.microphoneControl()->toggleButton()));
    QCOMPARE(view.statusTitle(), QStringLiteral("Preparing session"));
    mini.session.update([](auto &s) {
        s.isBusy = false;
        s.hasActiveSession = false;
    });
    QVERIFY(microphoneAvailable());
    QVERIFY(!KavrelFocusHold::looksAvailable(view.stopButton()));
}

void tst_KavrelListeningMiniView::microphoneMenuListsTheDevices()
{
    Mini mini;
    KavrelListeningMiniView &view = mini.make();
    KavrelMiniMicrophoneControl *control = view.microphoneControl();
    control->rebuildDeviceMenu();
    QCOMPARE(control->deviceMenu()->actions().size(), 1);
    QCOMPARE(control->deviceMenu()->actions().at(0)->text(), QStringLiteral("No microphone devices available"));
    QVERIFY(!control->deviceMenu()->actions().at(0)->isEnabled());

    mini.session.update([](auto &s) {
        s.availableMicrophones = {{QStringLiteral("a"), QStringLiteral("Built-in")}, {QStringLiteral("b"), QStringLiteral("Headset")}};
        s.selectedMicrophoneID = QStringLiteral("a");
        s.isMicrophoneListening = true;
    });
    control->rebuildDeviceMenu();
    const QList<QAction *> actions = control->deviceMenu()->actions();
    QCOMPARE(actions.size(), 2); // no refresh item here
    QVERIFY(!actions.at(0)->isEnabled());
    QVERIFY(actions.at(1)->isEnabled());
    actions.at(1)->trigger();
    QCOMPARE(mini.session.commands, QStringList{QStringLiteral("selectMicrophone(b)")});
    QCOMPARE(control->toggleButton()->symbol(), QStringLiteral("mic.fill"));
    QVERIFY(control->toggleButton()->toolTip().startsWith(QStringLiteral("Turn microphone off")));
}

void tst_KavrelListeningMiniView::footerButtons()
{
    Mini mini;
    KavrelListeningMiniView &view = mini.make();
    QVERIFY(view.hideCompletelyButton()->isEnabled());
    view.hideCompletelyButton()->click();
    QVERIFY(mini.presentation.isBackgroundOnly());
    view.expandButton()->click();
    QTRY_COMPARE(mini.mainWindowOpens, 1);
    QVERIFY(!mini.presentation.isBackgroundOnly());

    // Without a tray there is no way back from hiding everything, so it is not offered.
    Mini noTray;
    noTray.trayAvailable = false;
    KavrelListeningMiniView &other = noTray.make();
    QVERIFY(!other.hideCompletelyButton()->isEnabled());
}

void tst_KavrelListeningMiniView::panelScrollsToTheEndOnce()
{
    Mini mini;
    KavrelListeningMiniView &view = mini.make(QSize(720, 360));
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar *bar = view.transcriptPanel()->scrollArea()->verticalScrollBar();
    std::vector<std::pair<QString, QString>> lines;
    for (int i = 0; i < 60; ++i) {
        lines.push_back({QStringLiteral("Line %1 of a long meeting.").arg(i), QString()});
        mini.session.setTurns(lines);
    }
    QTRY_VERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void tst_KavrelListeningMiniView::windowOpensInTheScreensFreeArea_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("expected");
    // 720 × 420 preferred, 420 × 300 at least, 24 in from the bottom-right corner.
    QTest::newRow("full hd under a top panel") << QRect(0, 32, 1920, 1048) << QRect(1176, 636, 720, 420);
    QTest::newRow("second screen to the right") << QRect(1920, 0, 1280, 1024) << QRect(2456, 580, 720, 420);
    QTest::newRow("screen left of the primary") << QRect(-1440, 0, 1440, 900) << QRect(-744, 456, 720, 420);
    QTest::newRow("dock on the left") << QRect(64, 0, 1216, 800) << QRect(536, 356, 720, 420);
    QTest::newRow("small screen shrinks it") << QRect(0, 0, 640, 400) << QRect(24, 24, 592, 352);
    QTest::newRow("tinier than its minimum") << QRect(0, 0, 400, 280) << QRect(0, 0, 420, 300);
}

void tst_KavrelListeningMiniView::windowOpensInTheScreensFreeArea()
{
    QFETCH(QRect, available);
    QFETCH(QRect, expected);
    const QRect placed = KavrelListeningMiniWindow::initialGeometry(available, QSize(720, 420), QSize(420, 300));
    QCOMPARE(placed, expected);
    QVERIFY(available.contains(placed.topLeft()));
    if (available.width() >= 420 && available.height() >= 300)
        QVERIFY(available.contains(placed));
}

void tst_KavrelListeningMiniView::windowCatchesUpWithTheDrag_data()
{
    QTest::addColumn<int>("edges");
    QTest::addColumn<QPoint>("travelled");
    QTest::addColumn<QRect>("expected");
    // From 200,150 720 × 420; 420 × 300 at least, 960 × 680 at most.
    QTest::newRow("a move") << 0 << QPoint(300, -40) << QRect(500, 110, 720, 420);
    QTest::newRow("the right edge out") << int(Qt::RightEdge) << QPoint(150, 30) << QRect(200, 150, 870, 420);
    QTest::newRow("the left edge in") << int(Qt::LeftEdge) << QPoint(100, 0) << QRect(300, 150, 620, 420);
    QTest::newRow("the left edge past the least width") << int(Qt::LeftEdge) << QPoint(400, 0) << QRect(500, 150, 420, 420);
    QTest::newRow("the top-left corner out") << int(Qt::TopEdge | Qt::LeftEdge) << QPoint(-20, -50) << QRect(180, 100, 740, 470);
    QTest::newRow("the bottom edge past the largest height") << int(Qt::BottomEdge) << QPoint(0, 400) << QRect(200, 150, 720, 680);
}

// On a busy machine the window manager may take a drag over only where the pointer already is;
// the window has followed it there first, so it does not lag the pointer for the whole drag.
void tst_KavrelListeningMiniView::windowCatchesUpWithTheDrag()
{
    QFETCH(int, edges);
    QFETCH(QPoint, travelled);
    QFETCH(QRect, expected);
    QCOMPARE(KavrelListeningMiniWindow::followedGeometry(QRect(200, 150, 720, 420), Qt::Edges(edges), travelled, QSize(420, 300),
                                                         QSize(960, 680)),
             expected);
}

void tst_KavrelListeningMiniView::miniWindowScreenshots()
{
    Mini mini;
    mini.session.setTurns(
        {{QStringLiteral("Speaker 1: Good morning, everyone. Let's start with the quarterly numbers."),
          QStringLiteral("Спикер 1: Доброе утро всем. Начнём с квартальных цифр.")},
         {QStringLiteral("Speaker 2: Revenue grew by twelve percent, mostly from the new region."),
          QStringLiteral("Спикер 2: Выручка выросла на двенадцать процентов, в основном за счёт нового региона.")}});
    mini.session.state.liveSubtitlePreview = QStringLiteral("and the costs stayed");
    mini.session.state.translationPanelTitle = QStringLiteral("Russian translation");
    mini.session.state.isMicrophoneListening = true;
    mini.session.state.selectedMicrophoneName = QStringLiteral("Built-in Microphone");
    auto window = std::make_unique<KavrelListeningMiniWindow>(mini.session, mini.presentation, mini.defaults, [] {});
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->objectName(), QStringLiteral("kavrel-listening-mini"));
    QVERIFY(mini.windows.isMiniWindow(window.get()));
    // The panels follow the end of their text a moment after it changes; here at once, so a
    // picture shows them settled, never a scroll still on its way from an earlier scene.
    for (auto *panel : window->findChildren<KavrelMiniTranscriptPanel *>())
        panel->setScrollDelay(std::chrono::milliseconds(0));

    for (const auto &variant : Screenshots::variants()) {
        Screenshots::apply(window.get(), variant);
        mini.session.update([&](auto &s) {
            s.translationPanelTitle = variant.language == KavrelAppLanguage::russian ? QStringLiteral("Перевод: русский")
                                                                                    : QStringLiteral("Russian translation");
        });
        const QString path = Screenshots::write(window.get(), QStringLiteral("mini-window"), variant);
        QVERIFY(!path.isEmpty());
        // The microphone control's symbols (listening: red) read against the window behind them.
        const QImage picture(path);
        KavrelMiniMicrophoneControl *control = window->view()->microphoneControl();
        for (QWidget *button : {static_cast<QWidget *>(control->menuButton()), static_cast<QWidget *>(control->toggleButton())}) {
            const double ratio = symbolContrast(picture, window.get(), QRect(button->mapTo(window.get(), QPoint(0, 0)), button->size()));
            QVERIFY2(ratio >= 3, qPrintable(QStringLiteral("%1 %2: %3").arg(variant.suffix, button->accessibleName()).arg(ratio)));
        }
    }
    mini.defaults.setString(QStringLiteral("kavrel.miniWindowLayout"), QStringLiteral("rows"));
    ScreenFitCheck::resizeWindow(window.get(), QSize(480, 560));
    for (const auto &variant : Screenshots::variants()) {
        Screenshots::apply(window.get(), variant);
        QVERIFY(!Screenshots::write(window.get(), QStringLiteral("mini-window-rows"), variant).isEmpty());
    }
    // The smallest the window may be.
    window->resize(window->minimumSize());
    Screenshots::apply(window.get(), Screenshots::variants().at(3));
    QVERIFY(!Screenshots::write(window.get(), QStringLiteral("mini-window-smallest"), Screenshots::variants().at(3)).isEmpty());
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

QTEST_MAIN(tst_KavrelListeningMiniView)
#include "tst_KavrelListeningMiniView.moc"

// Two questions open over one window (a sheet, and a question asked over it from elsewhere), on
// the real X server with its window manager: when the window is clicked or brought forward, the
// question shown last takes the keyboard and keeps it; the window manager's focus does not go back
// and forth between the two. Its answer acts at a key, and the sheet under it at its own next.
// A window the user brings forward puts its keyboard on the place it names for that, where the
// keys that follow press nothing; brought back at once after it was sent away, its widgets are
// the active ones again, as the keyboard is.

#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelWindowFront.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"
#include "support/X11TestWindows.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

// Waits until the X server gives the window the keyboard and the widgets follow: keys go where
// the server's focus is, and the program acts on the widgets' active window. The window manager
// focuses a window once it has mapped it; on a busy machine that, and what Qt hears of it, comes
// late, so the wait is as long as a loaded run needs. Empty once both are there; else which of
// them did not follow.
QString waitForTheKeyboard(QWidget &window)
{
    const quint32 id = quint32(window.winId());
    if (QTest::qWaitFor([&window, id] { return X11TestWindows::inputFocus() == id && QApplication::activeWindow() == &window; },
                        30000))
        return {};
    return QStringLiteral("the X server's keyboard is on %1, the window %2 (%3mapped); the widgets' active window is %4")
        .arg(X11TestWindows::inputFocus().value_or(0), 0, 16)
        .arg(id, 0, 16)
        .arg(X11TestWindows::isViewable(id) ? "" : "not ")
        .arg(QApplication::activeWindow() == &window ? QStringLiteral("it")
                                                      : QApplication::activeWindow() ? QStringLiteral("another")
                                                                                     : QStringLiteral("none"));
}

// Counts the releases of Space the window system hands the window, once all of a key's work is done.
class SpaceReleases final : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyRelease && event->spontaneous()) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Space && !key->isAutoRepeat())
                ++count;
        }
        return false;
    }
};

} // namespace

class tst_KavrelWindowFront : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void lastQuestionKeepsTheKeyboard_data();
    void lastQuestionKeepsTheKeyboard();
    void broughtForwardTheKeyboardLandsOnItsPlace_data();
    void broughtForwardTheKeyboardLandsOnItsPlace();
};

void tst_KavrelWindowFront::init()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server with a window manager: run under scripts/test, which starts them");
}

void tst_KavrelWindowFront::lastQuestionKeepsTheKeyboard_data()
{
    QTest::addColumn<QString>("wayBack");
    QTest::newRow("a click on the window") << QStringLiteral("click");
    QTest::newRow("the window brought forward") << QStringLiteral("bring forward");
}

void tst_KavrelWindowFront::lastQuestionKeepsTheKeyboard()
{
    QFETCH(QString, wayBack);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Window"));
    window.setGeometry(60, 60, 900, 600);
    KavrelWindowFront::bringForward(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Both modal to the window, as the setup sheet and the start question are to the main window.
    auto *sheet = new QDialog(&window);
    sheet->setWindowTitle(QStringLiteral("Sheet"));
    sheet->resize(420, 500);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), sheet);
    (new QVBoxLayout(sheet))->addWidget(cancel);
    QObject::connect(cancel, &QPushButton::clicked, sheet, &QDialog::reject);
    sheet->open();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
    auto *question = new QMessageBox(QMessageBox::Information, QStringLiteral("Question"), QStringLiteral("Start?"),
                                     QMessageBox::NoButton, &window);
    QPushButton *yes = question->addButton(QStringLiteral("Yes"), QMessageBox::AcceptRole);
    question->addButton(QStringLiteral("No"), QMessageBox::RejectRole);
    question->setDefaultButton(yes);
    question->setWindowModality(Qt::WindowModal);
    question->open();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(question));

    if (wayBack == QLatin1String("click")) {
        // The window's corner, which neither question covers.
        QVERIFY(X11TestInput::click(window.mapToGlobal(QPoint(20, window.height() - 20))));
    } else {
        KavrelWindowFront::bringForward(&window);
    }
    // On a busy machine the window manager follows the requests late.
    const std::optional<quint32> questionId(quint32(question->winId()));
    if (!QTest::qWaitFor([&questionId] { return X11TestWindows::activeWindow() == questionId; }, 30000)) {
        const std::optional<quint32> active = X11TestWindows::activeWindow();
        const QString which = active == quint32(window.winId()) ? QStringLiteral("the window")
                              : active == quint32(sheet->winId()) ? QStringLiteral("the sheet")
                                                                  : QString::number(active.value_or(0), 16);
        QFAIL(qPrintable(QStringLiteral("the window manager's active window is %1, not the question").arg(which)));
    }

    // It stays with the question while nothing is pressed.
    QSet<quint32> active;
    QElapsedTimer watch;
    watch.start();
    while (watch.elapsed() < 600) {
        QTest::qWait(10);
        if (const std::optional<quint32> now = X11TestWindows::activeWindow())
            active.insert(*now);
    }
    QCOMPARE(active, QSet<quint32>{quint32(question->winId())});
    QCOMPARE(QApplication::activeWindow(), static_cast<QWidget *>(question));

    // The keys answer the question, then close the sheet.
    QSignalSpy answered(question, &QDialog::finished);
    QVERIFY(X11TestInput::keys({QStringLiteral("Return")}));
    QTRY_COMPARE(answered.size(), 1);
    QCOMPARE(question->clickedButton(), static_cast<QAbstractButton *>(yes));
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
    QSignalSpy cancelled(sheet, &QDialog::finished);
    QVERIFY(X11TestInput::keys({QStringLiteral("Escape")}));
    QTRY_COMPARE(cancelled.size(), 1);
    QCOMPARE(cancelled.first().first().toInt(), int(QDialog::Rejected));
}

void tst_KavrelWindowFront::broughtForwardTheKeyboardLandsOnItsPlace_data()
{
    // The widgets named as landings, the one with the keyboard before, and where it is after.
    QTest::addColumn<QStringList>("named");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("takesFocus");
    QTest::addColumn<QString>("after");
    QTest::newRow("a text takes it from the button") << QStringList{"text"} << "stop" << true << "text";
    QTest::newRow("the first shown, in tab order") << QStringList{"text", "heading"} << "stop" << true << "heading";
    QTest::newRow("a hidden one is passed by") << QStringList{"hint", "text"} << "stop" << true << "text";
    QTest::newRow("a disabled one is passed by") << QStringList{"disabled heading", "text"} << "stop" << true << "text";
    QTest::newRow("one that has it keeps it") << QStringList{"heading", "text"} << "text" << true << "text";
    QTest::newRow("a window naming none keeps its place") << QStringList{} << "stop" << true << "stop";
    QTest::newRow("shown on the program's own account") << QStringList{"text"} << "stop" << false << "stop";
}

// The window is left with the keyboard on a button and brought forward again; the keys after it
// reach the landing and press nothing.
void tst_KavrelWindowFront::broughtForwardTheKeyboardLandsOnItsPlace()
{
    QFETCH(QStringList, named);
    QFETCH(QString, before);
    QFETCH(bool, takesFocus);
    QFETCH(QString, after);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Window"));
    window.setGeometry(80, 80, 500, 400);
    auto *layout = new QVBoxLayout(&window);
    auto *heading = new QLabel(QStringLiteral("Heading"));
    auto *stop = new QPushButton(QStringLiteral("Stop"));
    auto *pages = new QStackedWidget;
    auto *hint = new QLabel(QStringLiteral("Nothing yet"));
    auto *text = new QTextEdit(QStringLiteral("What was said"));
    text->setReadOnly(true);
    pages->addWidget(hint);
    pages->addWidget(text);
    pages->setCurrentWidget(text);
    layout->addWidget(heading);
    layout->addWidget(stop);
    layout->addWidget(pages);
    const QHash<QString, QWidget *> widgets{{"heading", heading}, {"disabled heading", heading}, {"stop", stop},
                                            {"hint", hint}, {"text", text}};
    for (const QString &name : std::as_const(named)) {
        KavrelArrivalFocus::setLanding(widgets.value(name));
        if (name.startsWith(QLatin1String("disabled")))
            widgets.value(name)->setEnabled(false);
    }
    QSignalSpy pressed(stop, &QAbstractButton::clicked);

    KavrelWindowFront::bringForward(&window);
    QString keyboard = waitForTheKeyboard(window);
    QVERIFY2(keyboard.isEmpty(), qPrintable(keyboard));
    widgets.value(before)->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), widgets.value(before));
    KavrelWindowFront::sendAway(&window);
    QTRY_VERIFY(!window.isVisible());
    QTRY_VERIFY(!X11TestWindows::isViewable(quint32(window.winId())));

    // Back at once, as a tray entry or a link may bring it: Qt has not yet let it go as its own
    // focus window.
    KavrelWindowFront::bringForward(&window,
                                    takesFocus ? KavrelWindowFront::Focus::take : KavrelWindowFront::Focus::leave);
    QCOMPARE(window.focusWidget(), widgets.value(after));
    if (!takesFocus)
        return;
    keyboard = waitForTheKeyboard(window);
    QVERIFY2(keyboard.isEmpty(), qPrintable(keyboard));
    QCOMPARE(QApplication::focusWidget(), widgets.value(after));
    SpaceReleases releases;
    window.windowHandle()->installEventFilter(&releases);
    QVERIFY(X11TestInput::keys({QStringLiteral("space"), QStringLiteral("space")}));
    QTRY_COMPARE_WITH_TIMEOUT(releases.count, 2, 30000);
    QCOMPARE(pressed.size(), after == QLatin1String("stop") ? 2 : 0);
}

KAVREL_X11_TEST_MAIN(tst_KavrelWindowFront, "KAVREL_TEST_X11")

#include "tst_KavrelWindowFront.moc"

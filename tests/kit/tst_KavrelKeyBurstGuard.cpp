// Which key of a burst reaches a control: the keys come through the window as the windowing
// system's do, the keyboard moved between them by the program, by the user, or not at all.

#include "kit/widgets/KavrelKeyBurstGuard.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <csignal>

class tst_KavrelKeyBurstGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void secondKeyOfABurst_data();
    void secondKeyOfABurst();
    void keysRightAfterAContinue_data();
    void keysRightAfterAContinue();
};

void tst_KavrelKeyBurstGuard::initTestCase()
{
    KavrelKeyBurstGuard::install();
    KavrelKeyBurstGuard::install();
}

void tst_KavrelKeyBurstGuard::secondKeyOfABurst_data()
{
    QTest::addColumn<Qt::Key>("key");
    // What happens between the two presses: "program moves" (the keyboard to the other control),
    // "renamed" (the control turns into another), "Tab", "pause" (longer than a burst), "nothing".
    QTest::addColumn<QString>("between");
    QTest::addColumn<bool>("toTextField");
    // Presses of the first control, then of the second (or the first again, where the keyboard stayed).
    QTest::addColumn<int>("firstPresses");
    QTest::addColumn<int>("secondPresses");
    QTest::newRow("Space on one control twice") << Qt::Key_Space << "nothing" << false << 2 << 0;
    QTest::newRow("Return on one control twice") << Qt::Key_Return << "nothing" << false << 2 << 0;
    QTest::newRow("Space, the program moves the keyboard, Space") << Qt::Key_Space << "program moves" << false << 1 << 0;
    QTest::newRow("Return, the program moves the keyboard, Return") << Qt::Key_Return << "program moves" << false << 1 << 0;
    QTest::newRow("Space, the control turns into another, Space") << Qt::Key_Space << "renamed" << false << 1 << 0;
    QTest::newRow("Return, the control turns into another, Return") << Qt::Key_Return << "renamed" << false << 1 << 0;
    QTest::newRow("Space, the user's Tab, Space") << Qt::Key_Space << "Tab" << false << 1 << 1;
    QTest::newRow("Return, the program moves the keyboard, a pause, Return")
        << Qt::Key_Return << "program moves pause" << false << 1 << 1;
    QTest::newRow("Space, the program moves the keyboard into a text, Space")
        << Qt::Key_Space << "program moves" << true << 1 << 0;
}

void tst_KavrelKeyBurstGuard::secondKeyOfABurst()
{
    QFETCH(Qt::Key, key);
    QFETCH(QString, between);
    QFETCH(bool, toTextField);
    QFETCH(int, firstPresses);
    QFETCH(int, secondPresses);

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *first = new QPushButton(QStringLiteral("Start"));
    auto *second = new QPushButton(QStringLiteral("Delete"));
    auto *text = new QLineEdit;
    for (QPushButton *button : {first, second}) {
        button->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(button);
    }
    layout->addWidget(text);
    // Return presses a focused button here, as the kit's buttons do.
    class ReturnPresses : public QObject
    {
    public:
        using QObject::QObject;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            auto *button = qobject_cast<QPushButton *>(watched);
            if (button && event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Return) {
                button->click();
                return true;
            }
            return false;
        }
    } returnPresses;
    first->installEventFilter(&returnPresses);
    second->installEventFilter(&returnPresses);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    first->setFocus(Qt::TabFocusReason);
    QSignalSpy firstClicks(first, &QAbstractButton::clicked);
    QSignalSpy secondClicks(second, &QAbstractButton::clicked);
    QWindow *handle = window.windowHandle();

    QTest::keyClick(handle, key);
    QCOMPARE(firstClicks.size(), 1);
    if (between.startsWith(QLatin1String("program moves")))
        (toTextField ? static_cast<QWidget *>(text) : second)->setFocus(Qt::OtherFocusReason);
    else if (between == QLatin1String("renamed"))
        first->setText(QStringLiteral("Stop"));
    else if (between == QLatin1String("Tab"))
        QTest::keyClick(handle, Qt::Key_Tab);
    if (between.endsWith(QLatin1String("pause")))
        QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 100);
    const QString textBefore = text->text();
    QTest::keyClick(handle, key);
    QCOMPARE(firstClicks.size(), firstPresses);
    QCOMPARE(secondClicks.size(), secondPresses);
    if (toTextField)
        QCOMPARE(text->text(), textBefore + QLatin1Char(' '));

    // After a pause the key presses the control the keyboard is on, at once.
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 100);
    auto *focused = qobject_cast<QPushButton *>(QApplication::focusWidget());
    if (!focused)
        return;
    QSignalSpy clicks(focused, &QAbstractButton::clicked);
    QTest::keyClick(handle, key);
    QCOMPARE(clicks.size(), 1);
}

void tst_KavrelKeyBurstGuard::keysRightAfterAContinue_data()
{
    QTest::addColumn<Qt::Key>("key");
    // How long after the continue the keys come, and how many.
    QTest::addColumn<int>("afterMs");
    QTest::addColumn<int>("keys");
    QTest::addColumn<int>("presses");
    QTest::newRow("Space at once") << Qt::Key_Space << 0 << 1 << 0;
    QTest::newRow("Return at once") << Qt::Key_Return << 0 << 1 << 0;
    QTest::newRow("Space twice at once") << Qt::Key_Space << 0 << 2 << 0;
    QTest::newRow("Space a burst after") << Qt::Key_Space << int(KavrelKeyBurstGuard::burstGap.count()) + 100 << 1 << 1;
}

// Keys that were waiting for a stopped process come all at once when it is continued: they were
// meant for what the screen showed meanwhile. The next key after a pause presses as usual.
void tst_KavrelKeyBurstGuard::keysRightAfterAContinue()
{
    QFETCH(Qt::Key, key);
    QFETCH(int, afterMs);
    QFETCH(int, keys);
    QFETCH(int, presses);

    QWidget window;
    auto *stop = new QPushButton(QStringLiteral("Stop"), &window);
    stop->setFocusPolicy(Qt::StrongFocus);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    stop->setFocus(Qt::TabFocusReason);
    // Return presses the button as Space does, as the kit's buttons do.
    stop->setDefault(true);
    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 100);
    QSignalSpy clicks(stop, &QAbstractButton::clicked);

    QCOMPARE(::raise(SIGCONT), 0);
    QTest::qWait(afterMs);
    for (int i = 0; i < keys; ++i)
        QTest::keyClick(window.windowHandle(), key);
    QCOMPARE(clicks.size(), presses);

    QTest::qWait(int(KavrelKeyBurstGuard::burstGap.count()) + 100);
    QTest::keyClick(window.windowHandle(), key);
    QCOMPARE(clicks.size(), presses + 1);
}

QTEST_MAIN(tst_KavrelKeyBurstGuard)

#include "tst_KavrelKeyBurstGuard.moc"

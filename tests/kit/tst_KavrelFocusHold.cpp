// A control that cannot act for a while keeps the keyboard instead of Qt handing it to the next
// control; a control that goes away hands it to a chosen landing, never to a neighbour.

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelFocusLanding.h"
#include "kit/widgets/KavrelSwitch.h"

#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

namespace {

// A window of buttons in a row, first to last in the tab order; the one before the last is the
// neighbour Qt would hand the keyboard to.
struct Row
{
    QWidget window;
    QList<KavrelCapsuleButton *> buttons;
    QList<QSignalSpy *> clicks;

    explicit Row(int count = 3)
    {
        auto *layout = new QHBoxLayout(&window);
        for (int i = 0; i < count; ++i) {
            auto *button = new KavrelCapsuleButton(&window);
            button->setText(QStringLiteral("Button %1").arg(i));
            button->setFocusPolicy(Qt::StrongFocus);
            layout->addWidget(button);
            buttons.append(button);
            clicks.append(new QSignalSpy(button, &QAbstractButton::clicked));
        }
        window.show();
        window.activateWindow();
    }
    ~Row() { qDeleteAll(clicks); }

    int clicked(int index) const { return int(clicks[index]->count()); }
    bool activeWith(QWidget *focus) { return QTest::qWaitForWindowActive(&window) && window.focusWidget() == focus; }
};

QImage rendered(QWidget *widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget->render(&image);
    return image;
}

QString spokenDescription(QWidget *widget)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Description) : QString();
}

void press(QWidget *control, const QString &how)
{
    if (how == QLatin1String("space"))
        QTest::keyClick(control, Qt::Key_Space);
    else if (how == QLatin1String("return"))
        QTest::keyClick(control, Qt::Key_Return);
    else if (how == QLatin1String("enter"))
        QTest::keyClick(control, Qt::Key_Enter, Qt::KeypadModifier);
    else
        QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, control->rect().center());
}

} // namespace

class tst_KavrelFocusHold : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // As in the program, a screen reader reaches every control through the kit's interfaces.
    void initTestCase() { KavrelAccessibleFactory::install(); }
    void heldControlKeepsTheKeyboardAndIgnoresPresses_data();
    void heldControlKeepsTheKeyboardAndIgnoresPresses();
    void screenReaderCannotPressAHeldControl_data();
    void screenReaderCannotPressAHeldControl();
    void controlWithoutTheKeyboardIsDisabled();
    void keyboardLeavingEndsTheHold();
    void windowGoingInactiveKeepsTheHold();
    void availableAgainActsAtOnce();
    void pressBegunBeforeEndsWithoutAClick();
    void takeKeyboard_data();
    void takeKeyboard();
    void goneControlLandsOnTheLanding_data();
    void goneControlLandsOnTheLanding();
    void focusMovedByTheUserStaysWhereItWent();
};

void tst_KavrelFocusHold::heldControlKeepsTheKeyboardAndIgnoresPresses_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Space") << "space";
    QTest::newRow("Return") << "return";
    QTest::newRow("Enter") << "enter";
    QTest::newRow("mouse") << "mouse";
}

void tst_KavrelFocusHold::heldControlKeepsTheKeyboardAndIgnoresPresses()
{
    QFETCH(QString, how);
    Row row;
    KavrelCapsuleButton *control = row.buttons[1];
    control->setAccessibleDescription(QStringLiteral("Turns the microphone on"));
    // Given without a key, so that no focus ring is drawn in the comparison below.
    control->setFocus(Qt::OtherFocusReason);
    QVERIFY(row.activeWith(control));
    // What the same button looks like disabled.
    KavrelCapsuleButton twin;
    twin.setText(control->text());
    twin.resize(control->size());
    twin.setEnabled(false);
    const QImage disabledLook = rendered(&twin);

    KavrelFocusHold::setAvailable(control, false);
    QCOMPARE(row.window.focusWidget(), control);
    QVERIFY(KavrelFocusHold::isHeld(control));
    QVERIFY(!KavrelFocusHold::looksAvailable(control));
    QCOMPARE(rendered(control), disabledLook);
    QCOMPARE(spokenDescription(control),
             QStringLiteral("Turns the microphone on. %1").arg(KavrelFocusHold::unavailableDescription()));

    press(control, how);
    press(control, how);
    QCoreApplication::processEvents();
    QCOMPARE(row.clicked(1), 0);
    QCOMPARE(row.clicked(2), 0);
    QCOMPARE(row.window.focusWidget(), control);
    // Asking again changes nothing.
    KavrelFocusHold::setAvailable(control, false);
    QVERIFY(KavrelFocusHold::isHeld(control));
    QCOMPARE(spokenDescription(control),
             QStringLiteral("Turns the microphone on. %1").arg(KavrelFocusHold::unavailableDescription()));
}

void tst_KavrelFocusHold::screenReaderCannotPressAHeldControl_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("action");
    QTest::newRow("button, press") << "button" << QAccessibleActionInterface::pressAction();
    QTest::newRow("checkable button, toggle") << "checkable" << QAccessibleActionInterface::toggleAction();
    QTest::newRow("switch, toggle") << "switch" << QAccessibleActionInterface::toggleAction();
}

// A screen reader's "press" reaches a control past its keys and its clicks: a held control
// refuses it as it refuses them, and reads as not enabled while it keeps the keyboard.
void tst_KavrelFocusHold::screenReaderCannotPressAHeldControl()
{
    QFETCH(QString, control);
    QFETCH(QString, action);
    Row row;
    QAbstractButton *held = row.buttons[1];
    if (control == QLatin1String("checkable")) {
        held->setCheckable(true);
    } else if (control == QLatin1String("switch")) {
        auto *toggle = new KavrelSwitch(KavrelSwitch::Look(), &row.window);
        toggle->setAccessibleName(QStringLiteral("Microphone"));
        toggle->setFocusPolicy(Qt::StrongFocus);
        row.window.layout()->addWidget(toggle);
        toggle->show();
        held = toggle;
    }
    // Qt's own interface toggles a checkable button without a click.
    QSignalSpy clicks(held, &QAbstractButton::clicked);
    QSignalSpy toggles(held, &QAbstractButton::toggled);
    held->setFocus(Qt::OtherFocusReason);
    QVERIFY(row.activeWith(held));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(held);
    QVERIFY(accessible->actionInterface());
    QVERIFY(accessible->actionInterface()->actionNames().contains(action));
    QVERIFY(!accessible->state().disabled);

    KavrelFocusHold::setAvailable(held, false);
    QVERIFY(KavrelFocusHold::isHeld(held));
    const QAccessible::State state = accessible->state();
    QVERIFY(state.disabled);
    QVERIFY(state.focused && state.focusable);
    QVERIFY(!accessible->actionInterface()->actionNames().contains(action));
    accessible->actionInterface()->doAction(action);
    accessible->actionInterface()->doAction(action);
    // Qt's buttons click a moment after a press, as a click is seen.
    QTest::qWait(300);
    QCOMPARE(clicks.size(), 0);
    QCOMPARE(toggles.size(), 0);
    QCOMPARE(row.window.focusWidget(), held);

    // Able to act again, it is pressed as before.
    KavrelFocusHold::setAvailable(held, true);
    QVERIFY(!accessible->state().disabled);
    QVERIFY(accessible->actionInterface()->actionNames().contains(action));
    accessible->actionInterface()->doAction(action);
    QTRY_VERIFY(clicks.size() + toggles.size() > 0);
}

void tst_KavrelFocusHold::controlWithoutTheKeyboardIsDisabled()
{
    Row row;
    row.buttons[0]->setFocus(Qt::TabFocusReason);
    QVERIFY(row.activeWith(row.buttons[0]));
    KavrelFocusHold::setAvailable(row.buttons[1], false);
    QVERIFY(!row.buttons[1]->isEnabled());
    QVERIFY(!KavrelFocusHold::isHeld(row.buttons[1]));
    QTest::keyClick(row.buttons[0], Qt::Key_Tab);
    QCOMPARE(row.window.focusWidget(), row.buttons[2]);
    KavrelFocusHold::setAvailable(row.buttons[1], true);
    QVERIFY(row.buttons[1]->isEnabled());
}

void tst_KavrelFocusHold::keyboardLeavingEndsTheHold()
{
    Row row;
    KavrelCapsuleButton *control = row.buttons[1];
    control->setFocus(Qt::TabFocusReason);
    QVERIFY(row.activeWith(control));
    KavrelFocusHold::setAvailable(control, false);
    QTest::keyClick(control, Qt::Key_Tab);
    QCOMPARE(row.window.focusWidget(), row.buttons[2]);
    QTRY_VERIFY(!control->isEnabled());
    QVERIFY(!KavrelFocusHold::isHeld(control));
    QCOMPARE(spokenDescription(control), QString());
    // Back with Shift+Tab it is skipped, as any disabled control is.
    QTest::keyClick(row.buttons[2], Qt::Key_Backtab);
    QCOMPARE(row.window.focusWidget(), row.buttons[0]);
    KavrelFocusHold::setAvailable(control, true);
    QVERIFY(control->isEnabled());
    QTest::keyClick(row.buttons[0], Qt::Key_Tab);
    QCOMPARE(row.window.focusWidget(), control);
}

void tst_KavrelFocusHold::windowGoingInactiveKeepsTheHold()
{
    Row row;
    KavrelCapsuleButton *control = row.buttons[1];
    control->setFocus(Qt::TabFocusReason);
    QVERIFY(row.activeWith(control));
    KavrelFocusHold::setAvailable(control, false);
    {
        Row other(1);
        QVERIFY(other.activeWith(other.buttons[0]) || QTest::qWaitForWindowActive(&other.window));
        QCoreApplication::processEvents();
        QVERIFY(KavrelFocusHold::isHeld(control));
        QCOMPARE(row.window.focusWidget(), control);
    }
    row.window.activateWindow();
    QVERIFY(row.activeWith(control));
    QCoreApplication::processEvents();
    QVERIFY(KavrelFocusHold::isHeld(control));
    QTest::keyClick(control, Qt::Key_Space);
    QCOMPARE(row.clicked(1), 0);
}

void tst_KavrelFocusHold::availableAgainActsAtOnce()
{
    Row row;
    KavrelCapsuleButton *control = row.buttons[1];
    control->setAccessibleDescription(QStringLiteral("own"));
    control->setFocus(Qt::TabFocusReason);
    QVERIFY(row.activeWith(control));
    KavrelFocusHold::setAvailable(control, false);
    KavrelFocusHold::setAvailable(control, true);
    QVERIFY(!KavrelFocusHold::isHeld(control));
    QVERIFY(KavrelFocusHold::looksAvailable(control));
    QCOMPARE(spokenDescription(control), QStringLiteral("own"));
    QTest::keyClick(control, Qt::Key_Space);
    QCOMPARE(row.clicked(1), 1);
    QCOMPARE(row.window.focusWidget(), control);
}

void tst_KavrelFocusHold::pressBegunBeforeEndsWithoutAClick()
{
    Row row;
    KavrelCapsuleButton *control = row.buttons[1];
    control->setFocus(Qt::TabFocusReason);
    QVERIFY(row.activeWith(control));
    QTest::keyPress(control, Qt::Key_Space);
    QVERIFY(control->isDown());
    KavrelFocusHold::setAvailable(control, false);
    QVERIFY(!control->isDown());
    QTest::keyRelease(control, Qt::Key_Space);
    QCOMPARE(row.clicked(1), 0);
}

void tst_KavrelFocusHold::takeKeyboard_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("takes");
    QTest::addColumn<bool>("held");
    QTest::newRow("available") << "available" << true << false;
    QTest::newRow("waiting, disabled meanwhile") << "waiting" << true << true;
    QTest::newRow("disabled by its owner") << "disabled" << false << false;
    QTest::newRow("hidden") << "hidden" << false << false;
}

void tst_KavrelFocusHold::takeKeyboard()
{
    QFETCH(QString, state);
    QFETCH(bool, takes);
    QFETCH(bool, held);
    Row row;
    row.buttons[0]->setFocus(Qt::TabFocusReason);
    QVERIFY(row.activeWith(row.buttons[0]));
    KavrelCapsuleButton *control = row.buttons[2];
    if (state == QLatin1String("waiting"))
        KavrelFocusHold::setAvailable(control, false);
    else if (state == QLatin1String("disabled"))
        control->setEnabled(false);
    else if (state == QLatin1String("hidden"))
        control->hide();

    QCOMPARE(KavrelFocusHold::takeKeyboard(control), takes);
    QCOMPARE(row.window.focusWidget(), takes ? static_cast<QWidget *>(control) : row.buttons[0]);
    QCOMPARE(KavrelFocusHold::isHeld(control), held);
    if (state == QLatin1String("disabled") || state == QLatin1String("waiting"))
        QCOMPARE(control->isEnabled(), held);
    QTest::keyClick(row.window.focusWidget(), Qt::Key_Space);
    QCOMPARE(row.clicked(2), state == QLatin1String("available") ? 1 : 0);
}

void tst_KavrelFocusHold::goneControlLandsOnTheLanding_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("firstLandingHidden");
    QTest::addColumn<bool>("landingWaits");
    QTest::newRow("hidden") << "hide" << false << false;
    QTest::newRow("hidden with its area") << "hideArea" << false << false;
    QTest::newRow("disabled") << "disable" << false << false;
    QTest::newRow("hidden, first landing hidden too") << "hide" << true << false;
    QTest::newRow("hidden, landing waiting") << "hide" << false << true;
}

// The area (a panel of two buttons) lies between the landing and a neighbour that "ends
// something"; Qt alone would hand the keyboard to the neighbour.
void tst_KavrelFocusHold::goneControlLandsOnTheLanding()
{
    QFETCH(QString, change);
    QFETCH(bool, firstLandingHidden);
    QFETCH(bool, landingWaits);
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *first = new KavrelCapsuleButton(&window);
    auto *second = new KavrelCapsuleButton(&window);
    auto *area = new QWidget(&window);
    auto *areaLayout = new QHBoxLayout(area);
    auto *control = new KavrelCapsuleButton(area);
    auto *sibling = new KavrelCapsuleButton(area);
    auto *neighbour = new KavrelCapsuleButton(&window);
    for (KavrelCapsuleButton *button : {first, second, control, sibling, neighbour})
        button->setFocusPolicy(Qt::StrongFocus);
    areaLayout->addWidget(control);
    areaLayout->addWidget(sibling);
    layout->addWidget(first);
    layout->addWidget(second);
    layout->addWidget(area);
    layout->addWidget(neighbour);
    new KavrelFocusLanding(area, {first, second});
    window.show();
    window.activateWindow();
    // The other landing is out of the way (or the first is, and the second has to do).
    (firstLandingHidden ? first : second)->hide();
    QWidget *expected = firstLandingHidden ? second : first;
    if (landingWaits)
        KavrelFocusHold::setAvailable(expected, false);
    QSignalSpy neighbourClicks(neighbour, &QAbstractButton::clicked);
    QList<QWidget *> visited;
    const auto tracking = connect(qApp, &QApplication::focusChanged, [&visited](QWidget *, QWidget *now) { visited.append(now); });
    sibling->setFocus(Qt::TabFocusReason);
    control->setFocus(Qt::TabFocusReason);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.focusWidget(), control);
    visited.clear();

    if (change == QLatin1String("hide")) {
        sibling->hide();  // so that Qt's next control is the neighbour
        visited.clear();
        control->hide();
    } else if (change == QLatin1String("hideArea")) {
        area->hide();
    } else {
        sibling->hide();
        visited.clear();
        control->setEnabled(false);
    }
    // Where Qt's choice shows at all, it is for the moment of the move, before any further event.
    QCoreApplication::processEvents();
    disconnect(tracking);
    QCOMPARE(window.focusWidget(), expected);
    QCOMPARE(KavrelFocusHold::isHeld(expected), landingWaits);
    QVERIFY(!visited.isEmpty());
    QCOMPARE(visited.last(), expected);
    // A hidden control is seen to before Qt moves the keyboard: it goes nowhere else first.
    if (change != QLatin1String("disable"))
        QCOMPARE(visited.size(), 1);
    QTest::keyClick(window.focusWidget(), Qt::Key_Space);
    QCOMPARE(neighbourClicks.count(), 0);
}

void tst_KavrelFocusHold::focusMovedByTheUserStaysWhereItWent()
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *landing = new KavrelCapsuleButton(&window);
    auto *area = new QWidget(&window);
    auto *areaLayout = new QHBoxLayout(area);
    auto *control = new KavrelCapsuleButton(area);
    auto *neighbour = new KavrelCapsuleButton(&window);
    for (KavrelCapsuleButton *button : {landing, control, neighbour})
        button->setFocusPolicy(Qt::StrongFocus);
    areaLayout->addWidget(control);
    layout->addWidget(landing);
    layout->addWidget(area);
    layout->addWidget(neighbour);
    new KavrelFocusLanding(area, {landing});
    window.show();
    window.activateWindow();
    control->setFocus(Qt::TabFocusReason);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(control, Qt::Key_Tab);
    QCOMPARE(window.focusWidget(), neighbour);
    // Hiding the area later moves nothing: the keyboard is no longer in it.
    area->hide();
    QCOMPARE(window.focusWidget(), neighbour);
}

QTEST_MAIN(tst_KavrelFocusHold)
#include "tst_KavrelFocusHold.moc"

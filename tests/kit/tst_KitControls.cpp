#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelIconButton.h"
#include "kit/widgets/KavrelLinkButton.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "kit/widgets/KavrelSwitch.h"

#include <QAccessible>
#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

constexpr KavrelDynamicColor red = kavrelFixed({1, 0, 0, 1});
constexpr KavrelDynamicColor blue = kavrelFixed({0, 0, 1, 1});

// A symbol drawn as a filled square, so a test can find where and in what colour it went.
void squareSymbol(QPainter &painter, const QRectF &rect, const QString &, const QColor &color)
{
    painter.fillRect(rect, color);
}

QImage rendered(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

bool near(const QColor &actual, const QColor &expected, int tolerance = 3)
{
    return std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance && std::abs(actual.alpha() - expected.alpha()) <= tolerance;
}

KavrelSwitch::Look plainSwitch(int slideMilliseconds)
{
    KavrelSwitch::Look look;
    look.offTrack = red;
    look.offOpacity = 1;
    look.onTrack = blue;
    look.slideMilliseconds = slideMilliseconds;
    look.disabledOpacity = 0.5;
    return look;
}

// A red rectangle filling the button, its content in blue.
KavrelCapsuleButton::Look solidLook()
{
    KavrelCapsuleButton::Look look;
    look.fill = red;
    look.fillOpacity = 1;
    look.strokeOpacity = 0;
    look.foreground = blue;
    look.cornerRadius = 0;
    look.inset = 0;
    return look;
}

} // namespace

class tst_KitControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void switchKnobSitsOnItsSide_data();
    void switchKnobSitsOnItsSide();
    void slidingSwitchEndsOnTheNewSide();
    void switchKeysAndClicksToggleIt();
    void iconButtonStates_data();
    void iconButtonStates();
    void linkUnderlinesOnlyWhenFocused();
    void capsuleFaceAloneTakesClicks_data();
    void capsuleFaceAloneTakesClicks();
    void busyCapsuleTakesNoPress_data();
    void busyCapsuleTakesNoPress();
    void capsuleLooksPaint_data();
    void capsuleLooksPaint();
    void shrinkingCapsuleCutsItsText();
    void pickerFollowsKeysAndScreenReader_data();
    void pickerFollowsKeysAndScreenReader();
};

void tst_KitControls::switchKnobSitsOnItsSide_data()
{
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("leading");   // the knob's place when off
    QTest::addColumn<QColor>("trailing");  // its place when on
    QTest::newRow("off") << false << true << QColor(Qt::white) << QColor(255, 0, 0);
    QTest::newRow("on") << true << true << QColor(0, 0, 255) << QColor(Qt::white);
    // Disabled, the whole switch fades; the knob over its shadow is no longer plain white.
    QTest::newRow("off, disabled") << false << false << QColor() << QColor(255, 0, 0, 128);
}

void tst_KitControls::switchKnobSitsOnItsSide()
{
    QFETCH(bool, checked);
    QFETCH(bool, enabled);
    QFETCH(QColor, leading);
    QFETCH(QColor, trailing);
    KavrelSwitch control(plainSwitch(0));
    control.setChecked(checked);
    control.setEnabled(enabled);
    const QImage image = rendered(control);
    if (leading.isValid())
        QVERIFY2(near(image.pixelColor(12, 12), leading), qPrintable(image.pixelColor(12, 12).name(QColor::HexArgb)));
    QVERIFY2(near(image.pixelColor(28, 12), trailing), qPrintable(image.pixelColor(28, 12).name(QColor::HexArgb)));
}

void tst_KitControls::slidingSwitchEndsOnTheNewSide()
{
    KavrelSwitch control(plainSwitch(40));
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.toggle();
    const auto settles = [&control](QColor leading, QColor trailing) {
        return QTest::qWaitFor([&] {
            const QImage image = rendered(control);
            return near(image.pixelColor(12, 12), leading) && near(image.pixelColor(28, 12), trailing);
        });
    };
    QVERIFY(settles(QColor(0, 0, 255), Qt::white));
    control.toggle();
    QVERIFY(settles(Qt::white, QColor(255, 0, 0)));
}

void tst_KitControls::switchKeysAndClicksToggleIt()
{
    KavrelSwitch control(plainSwitch(0));
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.setFocus();
    QSignalSpy toggled(&control, &QAbstractButton::toggled);
    QTest::keyClick(&control, Qt::Key_Space);
    QVERIFY(control.isChecked());
    QTest::mouseClick(&control, Qt::LeftButton);
    QVERIFY(!control.isChecked());
    QCOMPARE(toggled.count(), 2);
}

void tst_KitControls::iconButtonStates_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QColor>("plate");   // a corner inside the button, off the symbol
    QTest::addColumn<QColor>("symbol");  // the middle
    QTest::newRow("at rest") << QStringLiteral("rest") << QColor(0, 0, 0, 0) << QColor(255, 0, 0);
    QTest::newRow("under the pointer") << QStringLiteral("hover") << QColor(255, 0, 0, 51) << QColor(255, 0, 0);
    QTest::newRow("pressed") << QStringLiteral("down") << QColor(255, 0, 0, 102) << QColor(255, 0, 0);
    QTest::newRow("disabled") << QStringLiteral("disabled") << QColor(0, 0, 0, 0) << QColor(255, 0, 0, 102);
    QTest::newRow("caller's colour") << QStringLiteral("colour") << QColor(0, 0, 0, 0) << QColor(0, 0, 255);
}

void tst_KitControls::iconButtonStates()
{
    QFETCH(QString, state);
    QFETCH(QColor, plate);
    QFETCH(QColor, symbol);
    KavrelIconButton::Look look;
    look.color = red;
    look.symbolSize = 8;
    look.paintSymbol = squareSymbol;
    look.hoverPlateOpacity = 0.2;
    look.pressedPlateOpacity = 0.4;
    look.disabledOpacity = 0.4;
    KavrelIconButton button(look);
    button.setSymbol(QStringLiteral("xmark"));
    button.setFixedSize(24, 24);
    QCOMPARE(button.sizeHint(), QSize(24, 24));
    if (state == QLatin1String("hover")) {
        QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
        QApplication::sendEvent(&button, &enter);
    } else if (state == QLatin1String("down")) {
        button.setDown(true);
    } else if (state == QLatin1String("disabled")) {
        button.setEnabled(false);
    } else if (state == QLatin1String("colour")) {
        button.setSymbolColor(QColor(0, 0, 255));
    }
    const QImage image = rendered(button);
    QVERIFY2(near(image.pixelColor(5, 12), plate), qPrintable(image.pixelColor(5, 12).name(QColor::HexArgb)));
    QVERIFY2(near(image.pixelColor(12, 12), symbol), qPrintable(image.pixelColor(12, 12).name(QColor::HexArgb)));
}

void tst_KitControls::linkUnderlinesOnlyWhenFocused()
{
    QWidget window;
    auto *link = new KavrelLinkButton(QStringLiteral("Resend"), &window);
    link->resize(link->sizeHint());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // Wherever the pointer is, this test wants it off the link; a shown window gives its only
    // control the focus, which the test takes back first.
    link->setAttribute(Qt::WA_UnderMouse, false);
    link->clearFocus();
    QVERIFY(!link->hasFocus());
    const auto paintedPixels = [link] {
        const QImage image = rendered(*link);
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y).alpha() > 0 ? 1 : 0;
        return count;
    };
    const int plain = paintedPixels();
    QVERIFY(plain > 0);
    link->setFocus();
    QVERIFY(link->hasFocus());
    QVERIFY(paintedPixels() > plain);
}

void tst_KitControls::capsuleFaceAloneTakesClicks_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("clicks");
    QTest::newRow("middle of the face") << QPoint(60, 30) << 1;
    QTest::newRow("face's corner box") << QPoint(12, 12) << 1;
    QTest::newRow("glow below the face") << QPoint(60, 56) << 0;
    QTest::newRow("glow beside the face") << QPoint(4, 30) << 0;
}

void tst_KitControls::capsuleFaceAloneTakesClicks()
{
    QFETCH(QPoint, point);
    QFETCH(int, clicks);
    KavrelCapsuleButton::Look look;
    look.height = 40;
    look.margins = QMarginsF(10, 10, 10, 20);
    KavrelCapsuleButton button;
    button.setLook(look);
    button.setText(QStringLiteral("Open"));
    button.resize(120, 70);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QCOMPARE(button.sizeHint().height(), 70);
    QSignalSpy spy(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, point);
    QCOMPARE(spy.count(), clicks);
}

void tst_KitControls::busyCapsuleTakesNoPress_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Space") << "space";
    QTest::newRow("Return") << "return";
    QTest::newRow("mouse") << "mouse";
    QTest::newRow("Space begun before") << "spaceBefore";
}

void tst_KitControls::busyCapsuleTakesNoPress()
{
    QFETCH(QString, how);
    KavrelCapsuleButton button;
    button.setText(QStringLiteral("Summarize"));
    button.resize(button.sizeHint());
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    if (how == QLatin1String("spaceBefore"))
        QTest::keyPress(&button, Qt::Key_Space);
    button.setBusy(true);
    if (how == QLatin1String("space"))
        QTest::keyClick(&button, Qt::Key_Space);
    else if (how == QLatin1String("return"))
        QTest::keyClick(&button, Qt::Key_Return);
    else if (how == QLatin1String("mouse"))
        QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, button.rect().center());
    else
        QTest::keyRelease(&button, Qt::Key_Space);
    QCOMPARE(clicks.count(), 0);
    button.setBusy(false);
    QTest::keyClick(&button, Qt::Key_Space);
    QCOMPARE(clicks.count(), 1);
}

void tst_KitControls::capsuleLooksPaint_data()
{
    QTest::addColumn<QString>("look");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("gradient across starts in the fill") << QStringLiteral("across") << QPoint(1, 20) << QColor(255, 0, 0);
    QTest::newRow("gradient across ends in its end") << QStringLiteral("across") << QPoint(118, 20) << QColor(0, 0, 255);
    QTest::newRow("shadow shows in the margin") << QStringLiteral("shadow") << QPoint(60, 44) << QColor();
    QTest::newRow("no shadow, empty margin") << QStringLiteral("plain") << QPoint(60, 44) << QColor(0, 0, 0, 0);
    QTest::newRow("leading content starts at the padding") << QStringLiteral("leading") << QPoint(11, 20) << QColor(0, 0, 255);
    QTest::newRow("centred content leaves the padding") << QStringLiteral("plain") << QPoint(11, 20) << QColor(255, 0, 0);
    QTest::newRow("ring from the keyboard") << QStringLiteral("ring") << QPoint(60, 1) << QColor();
    QTest::newRow("pressed darkens by its shade") << QStringLiteral("pressed") << QPoint(60, 5) << QColor(191, 0, 0);
}

void tst_KitControls::capsuleLooksPaint()
{
    QFETCH(QString, look);
    QFETCH(QPoint, pixel);
    QFETCH(QColor, expected);
    KavrelCapsuleButton::Look style = solidLook();
    style.height = 40;
    style.margins = QMarginsF(0, 0, 0, 10);
    style.horizontalPadding = 10;
    style.symbolSize = 10;
    style.paintSymbol = squareSymbol;
    if (look == QLatin1String("across")) {
        style.fillEnd = blue;
        style.gradientAcross = true;
    } else if (look == QLatin1String("shadow")) {
        style.shadow = KavrelCapsuleButton::Shadow{.opacity = 0.5, .blurRadius = 4, .offset = QPointF(0, 4)};
    } else if (look == QLatin1String("leading")) {
        style.alignsLeading = true;
    } else if (look == QLatin1String("pressed")) {
        style.darkensWhenPressed = true;
        style.pressedShade = 64;
    }
    QWidget window;
    auto *button = new KavrelCapsuleButton(&window);
    button->setLook(style);
    button->setSymbol(QStringLiteral("mic"));
    button->setFixedContentSize(QSize(120, 50));
    button->resize(120, 50);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    if (look == QLatin1String("ring")) {
        button->setFocus();
        window.setAttribute(Qt::WA_KeyboardFocusChange);
        expected = KavrelFocusRing::color(button->palette(), QColor(255, 0, 0));
    }
    if (look == QLatin1String("pressed"))
        button->setDown(true);
    const QColor actual = rendered(*button).pixelColor(pixel);
    // An invalid expectation asks only that something was painted there.
    const bool matches = expected.isValid() ? near(actual, expected, 6) : actual.alpha() > 0;
    QVERIFY2(matches, qPrintable(actual.name(QColor::HexArgb)));
}

void tst_KitControls::shrinkingCapsuleCutsItsText()
{
    KavrelCapsuleButton::Look look = solidLook();
    look.horizontalPadding = 20;
    KavrelCapsuleButton button;
    button.setLook(look);
    button.setText(QStringLiteral("A title far longer than the button that shows it"));
    QCOMPARE(button.minimumSizeHint().width(), button.sizeHint().width());
    button.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QVERIFY(button.minimumSizeHint().width() < 0);
    button.resize(120, button.sizeHint().height());
    const QImage image = rendered(button);
    // The padding on either side stays clear of the text.
    for (int y = 0; y < image.height(); ++y) {
        for (const int x : {2, 17, 102, 117})
            QVERIFY2(near(image.pixelColor(x, y), QColor(255, 0, 0), 8), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    }
}

void tst_KitControls::pickerFollowsKeysAndScreenReader_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("input"); // a key, "segment N" (its tab's press) or "press" (the picker's)
    QTest::addColumn<QString>("picked"); // empty: nothing reported
    QTest::newRow("right") << "a" << "Right" << "b";
    QTest::newRow("right at the end") << "c" << "Right" << "";
    QTest::newRow("left") << "b" << "Left" << "a";
    QTest::newRow("left at the start") << "a" << "Left" << "";
    QTest::newRow("space goes round") << "c" << "Space" << "a";
    QTest::newRow("return") << "a" << "Return" << "b";
    QTest::newRow("right from no match") << "x" << "Right" << "a";
    QTest::newRow("a segment's tab") << "a" << "segment 2" << "c";
    QTest::newRow("the picker's press") << "b" << "press" << "c";
}

void tst_KitControls::pickerFollowsKeysAndScreenReader()
{
    QFETCH(QString, start);
    QFETCH(QString, input);
    QFETCH(QString, picked);
    KavrelSegmentedPicker picker({{"a", "circle", "Alpha"}, {"b", "circle", "Beta"}, {"c", "circle", "Gamma"}});
    picker.setAccessibleName(QStringLiteral("Layout"));
    picker.resize(picker.sizeHint());
    picker.setValue(start);
    QCOMPARE(picker.focusPolicy(), Qt::StrongFocus);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&picker);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::PageTabList);
    QCOMPARE(accessible->childCount(), 3);
    QCOMPARE(accessible->child(1)->text(QAccessible::Name), QStringLiteral("Beta"));
    QCOMPARE(accessible->child(1)->state().selected, start == QLatin1String("b"));

    QSignalSpy reports(&picker, &KavrelSegmentedPicker::picked);
    if (input.startsWith(QLatin1String("segment ")))
        accessible->child(input.mid(8).toInt())->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    else if (input == QLatin1String("press"))
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    else
        QTest::keyClick(&picker, input == QLatin1String("Right") ? Qt::Key_Right
                                 : input == QLatin1String("Left") ? Qt::Key_Left
                                 : input == QLatin1String("Space") ? Qt::Key_Space
                                                                   : Qt::Key_Return);
    QCOMPARE(reports.size(), picked.isEmpty() ? 0 : 1);
    QCOMPARE(picker.value(), picked.isEmpty() ? start : picked);
    if (!picked.isEmpty())
        QCOMPARE(reports.constFirst().constFirst().toString(), picked);
}

QTEST_MAIN(tst_KitControls)
#include "tst_KitControls.moc"

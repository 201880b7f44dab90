#include "kit/KavrelSplitGeometry.h"
#include "app/widgets/KavrelAppearanceController.h"
#include "kit/widgets/KavrelKit.h"
#include "platform/UserDefaults.h"
#include "support/Screenshots.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QVariantAnimation>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>

// The desktop portal's settings, as a desktop publishes them on the session bus.
class FakePortalSettings final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint colorScheme = 1;

public Q_SLOTS:
    QDBusVariant Read(const QString &group, const QString &key)
    {
        if (group != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme"))
            return QDBusVariant(QVariant());
        // The portal wraps the value in a second variant.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
    }

Q_SIGNALS:
    void SettingChanged(const QString &group, const QString &key, const QDBusVariant &value);
};

class tst_WidgetKit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dynamicColoursFollowThePalette();
    void systemAppearanceFollowsTheDesktopPortal();
    void appearanceSettingWinsOverTheDesktop_data();
    void appearanceSettingWinsOverTheDesktop();
    void appearanceChangesAreAnnouncedOnce();
    void splitArithmetic_data();
    void splitArithmetic();
    void dragFractions_data();
    void dragFractions();
    void splitContainerDragsFromTheDividerOnly();
    void continuousCornersStayInsideTheRectangle();
    void symbolsDrawInTheirColourAtDeviceResolution();
    void busyButtonTakesNoClicks();
    void hiddenAnimationsWait();
    void backdropIsWhatLiesBeneath();
    void buttonKeysClickIt_data();
    void buttonKeysClickIt();
    void buttonLooksPaintTheirShape_data();
    void buttonLooksPaintTheirShape();
    void softShadowFadesOutsideTheShape();
    void keptShadowsMatchAFreshRender_data();
    void keptShadowsMatchAFreshRender();
    void slimScrollBarsDrawOnlyTheirHandle_data();
    void slimScrollBarsDrawOnlyTheirHandle();
    void springEndsOnItsTarget_data();
    void springEndsOnItsTarget();
    void appearTransitionSettlesLikeShowAndHide();
    void crossFadeLeavesNothingBehind();
    void kitScreenshots();
};

namespace {

QPalette schemePalette(KavrelColorScheme scheme)
{
    return KavrelAppearanceController::palette(scheme);
}

} // namespace

void tst_WidgetKit::dynamicColoursFollowThePalette()
{
    const KavrelDynamicColor divider = KavrelShellTheme::sidebarDivider;
    const QColor light = divider.resolve(schemePalette(KavrelColorScheme::light));
    const QColor dark = divider.resolve(schemePalette(KavrelColorScheme::dark));
    QCOMPARE(light, QColor::fromRgbF(0, 0, 0, 0.08f));
    QCOMPARE(dark, QColor::fromRgbF(1, 1, 1, 0.08f));
    // The opacity multiplies the pair's own alpha.
    QCOMPARE(KavrelSettingsTheme::controlFill.resolve(schemePalette(KavrelColorScheme::light), 0.5).alphaF(), 0.46f);
    QVERIFY(kavrelIsDark(schemePalette(KavrelColorScheme::dark)));
    QVERIFY(!kavrelIsDark(schemePalette(KavrelColorScheme::light)));
    // Components out of range never reach QColor unclamped.
    const QColor odd = KavrelRGBA{std::numeric_limits<double>::quiet_NaN(), 2, -1, 1}.toColor();
    QCOMPARE(odd, QColor::fromRgbF(0, 1, 0, 1));
}

void tst_WidgetKit::appearanceSettingWinsOverTheDesktop_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("portal"); // -1 no answer, else the portal's color-scheme value
    QTest::addColumn<bool>("desktopDark");
    QTest::addColumn<bool>("expectedDark");
    QTest::newRow("system, light desktop") << "system" << -1 << false << false;
    QTest::newRow("system, dark desktop") << "system" << -1 << true << true;
    QTest::newRow("system, portal prefers dark") << "system" << 1 << false << true;
    QTest::newRow("system, portal prefers light") << "system" << 2 << true << false;
    QTest::newRow("system, portal states nothing") << "system" << 0 << true << true;
    QTest::newRow("forced light over a dark portal") << "light" << 1 << true << false;
    QTest::newRow("forced dark over a light desktop") << "dark" << 2 << false << true;
    QTest::newRow("unknown text is system") << "Dark" << -1 << false << false;
}

void tst_WidgetKit::appearanceSettingWinsOverTheDesktop()
{
    QFETCH(QString, stored);
    QFETCH(int, portal);
    QFETCH(bool, desktopDark);
    QFETCH(bool, expectedDark);

    const QPalette original = QApplication::palette();
    QApplication::setPalette(Screenshots::desktopPalette(desktopDark ? KavrelColorScheme::dark : KavrelColorScheme::light));
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    defaults.setString(QStringLiteral("kavrel.appearanceMode"), stored);
    {
        KavrelAppearanceController controller(defaults);
        if (portal >= 0)
            controller.setDesktopPreference(KavrelAppearanceController::schemeFromPortalValue(uint(portal)));
        QCOMPARE(controller.effectiveScheme() == KavrelColorScheme::dark, expectedDark);
        QLabel label;
        QCOMPARE(kavrelIsDark(label.palette()), expectedDark);
        // Our palette, even where the desktop's has the scheme already: its greys are the ones
        // the texts were made to read in.
        const QPalette ours = schemePalette(controller.effectiveScheme());
        for (auto role : {QPalette::Window, QPalette::WindowText, QPalette::Base, QPalette::Text, QPalette::PlaceholderText})
            QCOMPARE(QApplication::palette().color(role), ours.color(role));
    }
    QApplication::setPalette(original);
}

void tst_WidgetKit::appearanceChangesAreAnnouncedOnce()
{
    const QPalette original = QApplication::palette();
    QApplication::setPalette(schemePalette(KavrelColorScheme::light));
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    KavrelAppearanceController controller(defaults);
    QSignalSpy changes(&controller, &KavrelAppearanceController::schemeChanged);
    defaults.setString(QStringLiteral("kavrel.appearanceMode"), QStringLiteral("dark"));
    defaults.setString(QStringLiteral("kavrel.appearanceMode"), QStringLiteral("dark"));
    QCOMPARE(changes.count(), 1);
    // Back to "system": the desktop palette it started with comes back, not the forced one.
    defaults.setString(QStringLiteral("kavrel.appearanceMode"), QStringLiteral("system"));
    QCOMPARE(changes.count(), 2);
    QCOMPARE(QApplication::palette().color(QPalette::Window), schemePalette(KavrelColorScheme::light).color(QPalette::Window));
    QApplication::setPalette(original);
}

void tst_WidgetKit::systemAppearanceFollowsTheDesktopPortal()
{
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        QSKIP("no session bus: run under scripts/test, which starts one");
    // The portal lives on a connection of its own, as another process's would.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal"));
    QVERIFY(bus.isConnected());
    FakePortalSettings portal;
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal, QDBusConnection::ExportAllContents));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

    const QPalette original = QApplication::palette();
    QApplication::setPalette(schemePalette(KavrelColorScheme::light));
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    {
        KavrelAppearanceController controller(defaults);
        controller.followDesktopPortal();
        QTRY_COMPARE(controller.effectiveScheme(), KavrelColorScheme::dark);
        QVERIFY(kavrelIsDark(QApplication::palette()));

        Q_EMIT portal.SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                                     QDBusVariant(uint(2)));
        QTRY_COMPARE(controller.effectiveScheme(), KavrelColorScheme::light);
        // A forced scheme wins over the desktop's.
        defaults.setString(QStringLiteral("kavrel.appearanceMode"), QStringLiteral("dark"));
        QCOMPARE(controller.effectiveScheme(), KavrelColorScheme::dark);
    }
    bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
    QApplication::setPalette(original);
}

void tst_WidgetKit::splitArithmetic_data()
{
    QTest::addColumn<double>("total");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("second");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("mini default") << 400.0 << 0.5 << 90.0 << 200.0 << 192.0;
    QTest::newRow("mini too short keeps both minimums") << 150.0 << 0.5 << 90.0 << 90.0 << 90.0;
    QTest::newRow("mini outside the drag range") << 1000.0 << 0.05 << 90.0 << 90.0 << 902.0;
    QTest::newRow("mini near the end") << 400.0 << 0.95 << 90.0 << 302.0 << 90.0;
    QTest::newRow("workspace default") << 1000.0 << 0.5 << 360.0 << 500.0 << 492.0;
    QTest::newRow("workspace narrow") << 700.0 << 0.5 << 360.0 << 360.0 << 360.0;
    QTest::newRow("not a number") << 1000.0 << nan << 360.0 << 360.0 << 632.0;
    QTest::newRow("infinite") << 1000.0 << inf << 360.0 << 360.0 << 632.0;
    QTest::newRow("mini infinite") << 400.0 << inf << 90.0 << 90.0 << 302.0;
    QTest::newRow("minus infinite") << 1000.0 << -inf << 360.0 << 360.0 << 632.0;
}

void tst_WidgetKit::splitArithmetic()
{
    QFETCH(double, total);
    QFETCH(double, fraction);
    QFETCH(double, minimum);
    QFETCH(double, first);
    QFETCH(double, second);
    const auto split = KavrelSplitGeometry::compute(total, fraction, minimum, 8);
    QCOMPARE(split.first, first);
    QCOMPARE(split.second, second);
}

void tst_WidgetKit::dragFractions_data()
{
    QTest::addColumn<double>("position");
    QTest::addColumn<double>("available");
    QTest::addColumn<double>("expected");
    QTest::newRow("inside") << 150.0 << 400.0 << 0.375;
    QTest::newRow("past the start") << -40.0 << 400.0 << 0.2;
    QTest::newRow("past the end") << 900.0 << 400.0 << 0.8;
    QTest::newRow("tiny area uses the position") << 0.5 << 0.5 << 0.5;
    QTest::newRow("tiny area still clamps") << 3.0 << 0.0 << 0.8;
    QTest::newRow("not a number keeps the split") << std::numeric_limits<double>::quiet_NaN() << 400.0 << 0.42;
}

void tst_WidgetKit::dragFractions()
{
    QFETCH(double, position);
    QFETCH(double, available);
    QFETCH(double, expected);
    QCOMPARE(KavrelSplitGeometry::fractionForDrag(position, available, 0.2, 0.8, 0.42), expected);
}

void tst_WidgetKit::splitContainerDragsFromTheDividerOnly()
{
    KavrelSplitContainer container;
    auto *first = new QLabel(QStringLiteral("first"));
    auto *second = new QLabel(QStringLiteral("second"));
    container.setPanels(first, second);
    container.resize(408, 200);
    container.show();
    QVERIFY(QTest::qWaitForWindowExposed(&container));
    QCOMPARE(first->geometry(), QRect(0, 0, 204, 200));
    QCOMPARE(second->geometry(), QRect(212, 0, 196, 200));

    KavrelSplitDivider *divider = container.divider();
    QCOMPARE(divider->geometry(), QRect(204, 88, 8, 24));
    QCOMPARE(divider->cursor().shape(), Qt::SizeHorCursor);
    QCOMPARE(container.cursor().shape(), Qt::ArrowCursor);

    QSignalSpy dragged(&container, &KavrelSplitContainer::fractionDragged);
    const QPoint centre = divider->rect().center();
    QTest::mousePress(divider, Qt::LeftButton, {}, centre);
    QTest::mouseMove(divider, centre + QPoint(5, 0));
    QCOMPARE(dragged.count(), 0); // below the minimum drag distance
    QTest::mouseMove(divider, centre + QPoint(-400, 0));
    QCOMPARE(dragged.count(), 1);
    QCOMPARE(dragged.last().at(0).toDouble(), 0.2);
    QCOMPARE(container.fraction(), 0.2);
    QTest::mouseRelease(divider, Qt::LeftButton, {}, centre + QPoint(-400, 0));

    container.setOrientation(Qt::Vertical);
    QCOMPARE(divider->cursor().shape(), Qt::SizeVerCursor);
    second->hide();
    QVERIFY(divider->isHidden());
    QCOMPARE(first->geometry(), container.rect());
}

void tst_WidgetKit::continuousCornersStayInsideTheRectangle()
{
    const QRectF rect(10, 20, 200, 100);
    const QPainterPath path = KavrelPainting::continuousRoundedRect(rect, 16);
    QVERIFY(rect.contains(path.boundingRect()));
    QCOMPARE(path.boundingRect(), rect);
    QVERIFY(path.contains(rect.center()));
    QVERIFY(!path.contains(rect.topLeft() + QPointF(2, 2)));
    QVERIFY(path.contains(QPointF(rect.center().x(), rect.top() + 0.5)));
    // A radius too large for the shape still gives a closed shape inside the rectangle.
    const QPainterPath pill = KavrelPainting::continuousRoundedRect(rect, 500);
    QCOMPARE(pill.boundingRect(), rect);
    QVERIFY(KavrelPainting::continuousRoundedRect(QRectF(), 4).isEmpty());
}

void tst_WidgetKit::symbolsDrawInTheirColourAtDeviceResolution()
{
    KavrelSymbols::setUsesIconTheme(false);
    const QColor red(220, 20, 30);
    for (const char *name : {"mic", "mic.fill", "mic.slash.fill", "stop.fill", "ellipsis", "checkmark", "waveform",
                             "character.bubble", "eye.slash", "arrow.up.and.down", "arrow.left.and.right",
                             "rectangle.split.2x1", "rectangle.split.1x2", "xmark", "play.fill", "envelope", "gearshape",
                             "chevron.up.chevron.down",
                             "no.such.symbol"}) {
        QImage image(QSize(48, 48), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            KavrelSymbols::paint(painter, QRectF(0, 0, 24, 24), QString::fromLatin1(name), red);
        }
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255) {
                    ++opaque;
                    QCOMPARE(pixel.rgb(), red.rgb());
                }
            }
        QVERIFY2(opaque > 8, name);
    }
    // The icon form draws the same at any size, and half-transparent when disabled.
    const QIcon icon = KavrelSymbols::icon(QStringLiteral("stop.fill"), red);
    const QImage normal = icon.pixmap(QSize(32, 32)).toImage();
    const QImage disabled = icon.pixmap(QSize(32, 32), QIcon::Disabled).toImage();
    QCOMPARE(normal.pixelColor(16, 16).alpha(), 255);
    QVERIFY(disabled.pixelColor(16, 16).alpha() < 160);
    KavrelSymbols::setUsesIconTheme(true);
}

void tst_WidgetKit::busyButtonTakesNoClicks()
{
    KavrelCapsuleButton button;
    button.setText(QStringLiteral("Start"));
    button.setSymbol(QStringLiteral("mic"));
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    button.setBusy(true);
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    button.setBusy(false);
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks.count(), 2);
}

void tst_WidgetKit::buttonKeysClickIt_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("clicks");
    QTest::newRow("space") << int(Qt::Key_Space) << false << 1;
    QTest::newRow("return") << int(Qt::Key_Return) << false << 1;
    QTest::newRow("enter") << int(Qt::Key_Enter) << false << 1;
    QTest::newRow("return, busy") << int(Qt::Key_Return) << true << 0;
}

void tst_WidgetKit::buttonKeysClickIt()
{
    QFETCH(int, key);
    QFETCH(bool, busy);
    QFETCH(int, clicks);
    KavrelCapsuleButton button;
    button.setText(QStringLiteral("Retry"));
    button.setBusy(busy);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    button.setFocus();
    QSignalSpy spy(&button, &QAbstractButton::clicked);
    QTest::keyClick(&button, Qt::Key(key));
    QCOMPARE(spy.count(), clicks);
}

void tst_WidgetKit::buttonLooksPaintTheirShape_data()
{
    QTest::addColumn<double>("cornerRadius");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("ownDisabledColors");
    QTest::addColumn<bool>("down");
    QTest::addColumn<bool>("darkensWhenPressed");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<QColor>("expected");
    const QPoint corner(2, 2);
    const QPoint centre(40, 20);
    const QColor red(255, 0, 0);
    QTest::newRow("capsule leaves the corner empty") << -1.0 << true << false << false << false << corner << QColor(0, 0, 0, 0);
    QTest::newRow("small radius fills the corner") << 2.0 << true << false << false << false << corner << red;
    QTest::newRow("disabled fades") << -1.0 << false << false << false << false << centre << QColor(255, 0, 0, 128);
    QTest::newRow("disabled in its own colours") << 2.0 << false << true << false << false << centre << QColor(0, 0, 255);
    QTest::newRow("pressed fades") << -1.0 << true << false << true << false << centre << QColor(255, 0, 0, 191);
    QTest::newRow("pressed darkens") << -1.0 << true << false << true << true << centre << QColor(215, 0, 0);
}

void tst_WidgetKit::buttonLooksPaintTheirShape()
{
    QFETCH(double, cornerRadius);
    QFETCH(bool, enabled);
    QFETCH(bool, ownDisabledColors);
    QFETCH(bool, down);
    QFETCH(bool, darkensWhenPressed);
    QFETCH(QPoint, pixel);
    QFETCH(QColor, expected);
    KavrelCapsuleButton::Look look;
    look.fill = kavrelFixed({1, 0, 0, 1});
    look.fillOpacity = 1;
    look.strokeOpacity = 0;
    look.cornerRadius = cornerRadius;
    look.darkensWhenPressed = darkensWhenPressed;
    if (ownDisabledColors)
        look.disabled = KavrelCapsuleButton::DisabledColors{kavrelFixed({0, 0, 1, 1}), 1, KavrelSystemColors::label};
    KavrelCapsuleButton button;
    button.setLook(look);
    button.setFixedContentSize(QSize(80, 40));
    button.resize(80, 40);
    button.setEnabled(enabled);
    button.setDown(down);
    QImage image(button.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    button.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QColor actual = image.pixelColor(pixel);
    const auto near = [](int a, int b) { return std::abs(a - b) <= 2; };
    QVERIFY2(near(actual.red(), expected.red()) && near(actual.green(), expected.green())
                 && near(actual.blue(), expected.blue()) && near(actual.alpha(), expected.alpha()),
             qPrintable(actual.name(QColor::HexArgb)));
}

void tst_WidgetKit::keptShadowsMatchAFreshRender_data()
{
    QTest::addColumn<QPainterPath>("shape");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QPointF>("moved");
    QTest::addColumn<qreal>("blur");
    const QRectF card(30.5, 32.25, 120, 46);
    QTest::newRow("card, ratio 1") << KavrelPainting::continuousRoundedRect(card, 16) << 1.0 << QPointF(37, 9) << 10.0;
    QTest::newRow("card, ratio 2") << KavrelPainting::continuousRoundedRect(card, 16) << 2.0 << QPointF(3.5, 40) << 10.0;
    QTest::newRow("capsule, fractional ratio") << KavrelPainting::capsule(card) << 1.25 << QPointF(11, 0.5) << 6.0;
    QTest::newRow("no blur") << KavrelPainting::capsule(card) << 1.0 << QPointF(20, 20) << 0.0;
}

// A shadow drawn again from what was kept is the very image a first drawing gives, wherever
// the shape stands; another colour, blur or pixel ratio is blurred anew.
void tst_WidgetKit::keptShadowsMatchAFreshRender()
{
    QFETCH(QPainterPath, shape);
    QFETCH(qreal, ratio);
    QFETCH(QPointF, moved);
    QFETCH(qreal, blur);
    const QColor colour = QColor::fromRgbF(0, 0, 0, 0.3f);
    const auto draw = [&](const QPainterPath &path, const QColor &shadowColour, qreal shadowRatio) {
        QImage image((QSizeF(240, 160) * shadowRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(shadowRatio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        KavrelPainting::drawSoftShadow(painter, path, shadowColour, blur, QPointF(0, 4));
        return image;
    };
    KavrelPainting::clearSoftShadowCache();
    const quint64 start = KavrelPainting::softShadowRenderCount();
    const QImage fresh = draw(shape.translated(moved), colour, ratio);
    QCOMPARE(KavrelPainting::softShadowRenderCount(), start + 1);
    // The same shape elsewhere first, then where the fresh one stood: both come from the cache.
    const QImage elsewhere = draw(shape, colour, ratio);
    const QImage again = draw(shape.translated(moved), colour, ratio);
    QCOMPARE(KavrelPainting::softShadowRenderCount(), start + 1);
    QCOMPARE(again, fresh);
    QVERIFY(elsewhere != fresh);
    // Moved by whole device pixels, the kept image lands exactly where a moved fresh one would.
    const QPoint step = (moved * ratio).toPoint();
    if (QPointF(step) == moved * ratio)
        QCOMPARE(elsewhere.copy(QRect(-step, elsewhere.size())), fresh);
    draw(shape, QColor::fromRgbF(0, 0, 0, 0.31f), ratio);
    draw(shape, colour, ratio * 2);
    QCOMPARE(KavrelPainting::softShadowRenderCount(), start + 3);
}

namespace {
// A layer of the backdrop test: fills its rounded shape with a colour, counting its paints.
class BackdropLayer final : public QWidget
{
public:
    BackdropLayer(QColor colour, QWidget *parent = nullptr) : QWidget(parent), colour(colour) {}
    QColor colour;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient fill(0, 0, width(), height());
        fill.setColorAt(0, colour);
        fill.setColorAt(1, colour.lighter(140));
        painter.setBrush(fill);
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(rect()), 18, 18);
    }
};

// See-through text, drawn over a kept picture of what lies beneath it when given one.
class BackdropText final : public QWidget
{
public:
    BackdropText(bool kept, QWidget *parent) : QWidget(parent), backdrop(kept ? new KavrelOpaqueBackdrop(this) : nullptr) {}
    KavrelOpaqueBackdrop *backdrop;
    QString text = QStringLiteral("Доброе утро, коллеги");

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        if (backdrop && !backdrop->paint(painter, event->rect()))
            return;
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, text);
    }
};

// The largest difference of a colour channel between two pictures of one size; blending into a
// kept picture first may round a step differently from blending into the window.
int largestChannelDifference(const QImage &first, const QImage &second)
{
    const QImage a = first.convertToFormat(QImage::Format_ARGB32);
    const QImage b = second.convertToFormat(QImage::Format_ARGB32);
    if (a.size() != b.size())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            for (int shift : {0, 8, 16, 24})
                largest = std::max(largest, std::abs(int((p >> shift) & 0xff) - int((q >> shift) & 0xff)));
        }
    }
    return largest;
}

struct BackdropScene
{
    explicit BackdropScene(bool kept)
    {
        window.setAutoFillBackground(true);
        window.resize(360, 260);
        card = new BackdropLayer(QColor(40, 90, 200, 150), &window);
        card->setGeometry(20, 20, 320, 220);
        box = new BackdropLayer(QColor(255, 255, 255, 90), card);
        box->setGeometry(15, 15, 290, 190);
        text = new BackdropText(kept, box);
        text->setGeometry(10, 10, 240, 160);
        // A button of the box over the text is not part of what lies beneath it.
        auto *over = new QPushButton(QStringLiteral("×"), box);
        over->setGeometry(200, 20, 40, 30);
        // A see-through neighbour along one side, as a scroll bar beside a text view.
        beside = new BackdropLayer(QColor(0, 0, 0, 40), box);
        beside->setGeometry(250, 10, 10, 160);
        // A widget whose painting is not ours (a style-sheet scroll bar) has the picture drawn
        // before its own painting.
        bar = new QScrollBar(Qt::Vertical, card);
        bar->setStyleSheet(QStringLiteral(
            "QScrollBar:vertical { background: transparent; width: 10px; }"
            "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 115); border-radius: 4px; min-height: 28px; }"
            "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none; }"));
        bar->setRange(0, 100);
        bar->setGeometry(307, 20, 10, 180);
        if (kept)
            new KavrelOpaqueBackdrop(bar, KavrelOpaqueBackdrop::Painting::beforeTheWidget);
    }
    QWidget window;
    BackdropLayer *card;
    BackdropLayer *box;
    BackdropText *text;
    BackdropLayer *beside;
    QScrollBar *bar;
};
} // namespace

// A widget drawing a picture of what lies beneath it looks exactly as if it were see-through,
// after the layers below change too; its own repaints stop at it.
void tst_WidgetKit::backdropIsWhatLiesBeneath()
{
    BackdropScene kept(true);
    BackdropScene seeThrough(false);
    for (BackdropScene *scene : {&kept, &seeThrough}) {
        scene->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&scene->window));
    }
    // Both stay opaque to Qt, the scroll bar too after its style has polished it.
    QVERIFY(kept.text->testAttribute(Qt::WA_OpaquePaintEvent) && kept.bar->testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(largestChannelDifference(kept.window.grab().toImage(), seeThrough.window.grab().toImage()) <= 2);

    // A change of the text, or of the scroll bar, repaints that widget alone, from the picture
    // taken before.
    QCoreApplication::processEvents();
    const int taken = kept.text->backdrop->pictureCount();
    QVERIFY(taken > 0);
    kept.card->paints = kept.box->paints = 0;
    kept.text->text = QStringLiteral("Начнём с цифр прошлого квартала");
    seeThrough.text->text = kept.text->text;
    kept.text->repaint();
    for (BackdropScene *scene : {&kept, &seeThrough})
        scene->bar->setValue(70);
    kept.bar->repaint();
    QCOMPARE(kept.card->paints, 0);
    QCOMPARE(kept.box->paints, 0);
    QCOMPARE(kept.text->backdrop->pictureCount(), taken);
    // A neighbour's repaint along one side (with one elsewhere) leaves the picture as it is.
    kept.box->repaint(QRegion(kept.beside->geometry()) + QRegion(QRect(0, 0, 8, 8)));
    QCOMPARE(kept.text->backdrop->pictureCount(), taken);
    QVERIFY(largestChannelDifference(kept.window.grab().toImage(), seeThrough.window.grab().toImage()) <= 2);

    // Layers below that change — a colour, a size, a place — are drawn into a new picture.
    const std::vector<std::function<void(BackdropScene &)>> changes = {
        [](BackdropScene &scene) { scene.card->colour = QColor(200, 60, 40, 170); scene.card->update(); },
        [](BackdropScene &scene) { scene.box->colour = QColor(0, 0, 0, 60); scene.box->update(); },
        [](BackdropScene &scene) { scene.box->move(15, 25); },
        [](BackdropScene &scene) { scene.text->resize(200, 120); },
        [](BackdropScene &scene) {
            // Into a new layer: one more widget lies beneath.
            auto *inner = new BackdropLayer(QColor(20, 160, 90, 120), scene.card);
            inner->setGeometry(8, 8, 296, 204); // beside the scroll bar
            inner->show();
            scene.box->setParent(inner);
            scene.box->move(6, 6);
            scene.box->show();
        },
        [](BackdropScene &scene) {
            QPalette palette = scene.window.palette();
            palette.setColor(QPalette::Window, QColor(30, 30, 34));
            scene.window.setPalette(palette);
        },
    };
    for (std::size_t index = 0; index < changes.size(); ++index) {
        const int taken = kept.text->backdrop->pictureCount();
        changes[index](kept);
        changes[index](seeThrough);
        QTRY_VERIFY(kept.text->backdrop->pictureCount() > taken);
        const int difference = largestChannelDifference(kept.window.grab().toImage(), seeThrough.window.grab().toImage());
        QVERIFY2(difference <= 2, qPrintable(QStringLiteral("change %1: %2").arg(index).arg(difference)));
    }
}

// A spinner nobody can see holds still: hidden with its window or a parent, or started while
// hidden; it goes on when shown, and one stopped meanwhile stays stopped.
void tst_WidgetKit::hiddenAnimationsWait()
{
    QWidget window;
    auto *panel = new QWidget(&window);
    QVariantAnimation spin;
    spin.setDuration(900);
    spin.setStartValue(0.0);
    spin.setEndValue(1.0);
    spin.setLoopCount(-1);
    KavrelHiddenPause::install(panel, &spin);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    spin.start();
    QCOMPARE(spin.state(), QAbstractAnimation::Running);
    window.hide();
    QCOMPARE(spin.state(), QAbstractAnimation::Paused);
    window.show();
    QCOMPARE(spin.state(), QAbstractAnimation::Running);
    panel->hide();
    QCOMPARE(spin.state(), QAbstractAnimation::Paused);
    spin.stop();
    panel->show();
    QCOMPARE(spin.state(), QAbstractAnimation::Stopped);
    panel->hide();
    spin.start();
    QCOMPARE(spin.state(), QAbstractAnimation::Paused);
    panel->show();
    QCOMPARE(spin.state(), QAbstractAnimation::Running);
    // A pause the owner asked for is its own: showing does not undo it.
    spin.pause();
    panel->hide();
    panel->show();
    QCOMPARE(spin.state(), QAbstractAnimation::Paused);
}

void tst_WidgetKit::softShadowFadesOutsideTheShape()
{
    QImage image(QSize(200, 200), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        QPainterPath path;
        path.addRect(QRectF(25, 25, 50, 50));
        KavrelPainting::drawSoftShadow(painter, path, QColor(0, 0, 0, 200), 10, QPointF(0, 0));
    }
    const int inside = image.pixelColor(100, 100).alpha();
    const int edge = image.pixelColor(100, 50).alpha();      // on the shape's border
    const int outside = image.pixelColor(100, 38).alpha();   // a few points outside it
    const int far = image.pixelColor(100, 2).alpha();
    QVERIFY(inside > 150);
    QVERIFY(edge < inside && edge > outside);
    QVERIFY(outside > 0);
    QCOMPARE(far, 0);
}

void tst_WidgetKit::slimScrollBarsDrawOnlyTheirHandle_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<Qt::Orientation>("orientation");
    QTest::newRow("scroll area, vertical") << QStringLiteral("area") << Qt::Vertical;
    QTest::newRow("scroll area, horizontal") << QStringLiteral("area") << Qt::Horizontal;
    QTest::newRow("list") << QStringLiteral("list") << Qt::Vertical;
    QTest::newRow("text") << QStringLiteral("text") << Qt::Vertical;
}

void tst_WidgetKit::slimScrollBarsDrawOnlyTheirHandle()
{
    QFETCH(QString, view);
    QFETCH(Qt::Orientation, orientation);
    const bool vertical = orientation == Qt::Vertical;
    std::unique_ptr<QAbstractScrollArea> area;
    if (view == QLatin1String("area")) {
        auto *scroll = new QScrollArea;
        auto *content = new QWidget;
        content->setFixedSize(vertical ? QSize(100, 2000) : QSize(2000, 100));
        scroll->setWidget(content);
        area.reset(scroll);
    } else if (view == QLatin1String("list")) {
        auto *list = new QListWidget;
        for (int i = 0; i < 200; ++i)
            list->addItem(QStringLiteral("Row %1").arg(i));
        area.reset(list);
    } else {
        auto *text = new QTextEdit;
        text->setPlainText(QStringLiteral("A line of text\n").repeated(200));
        area.reset(text);
    }
    KavrelSlimScrollBars::apply(area.get());
    area->resize(240, 240);
    area->show();
    QVERIFY(QTest::qWaitForWindowExposed(area.get()));
    QScrollBar *bar = vertical ? area->verticalScrollBar() : area->horizontalScrollBar();
    QTRY_VERIFY(bar->isVisible());
    QVERIFY((vertical ? bar->width() : bar->height()) <= 10);

    // At the start the handle lies at the leading end; the far end shows neither a track nor an
    // arrow button, only what is behind the bar.
    bar->setValue(0);
    QImage image(bar->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    bar->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const int across = (vertical ? bar->width() : bar->height()) / 2 - 1;
    const int along = vertical ? bar->height() : bar->width();
    const auto pixel = [&](int position) {
        return vertical ? image.pixelColor(across, position) : image.pixelColor(position, across);
    };
    QVERIFY(pixel(14).alpha() > 0);
    QCOMPARE(pixel(along - 3).alpha(), 0);
    QCOMPARE(pixel(along / 2 + 20).alpha(), 0);
}

void tst_WidgetKit::springEndsOnItsTarget_data()
{
    QTest::addColumn<double>("response");
    QTest::addColumn<double>("damping");
    QTest::newRow("onboarding") << 0.34 << 0.88;
    QTest::newRow("theme selector") << 0.24 << 0.86;
    QTest::newRow("bouncy") << 0.5 << 0.5;
    QTest::newRow("critically damped") << 0.3 << 1.0;
    QTest::newRow("overdamped") << 0.3 << 1.5;
}

// The motion starts at 0, ends exactly at 1 and overshoots no more than a spring of that
// damping does (not at all from damping 1 on); an animation of it moves between its own values so.
void tst_WidgetKit::springEndsOnItsTarget()
{
    QFETCH(double, response);
    QFETCH(double, damping);
    const KavrelSpring spring(response, damping);
    KavrelSpringAnimation animation(spring);
    animation.setStartValue(10.0);
    animation.setEndValue(30.0);
    QCOMPARE(spring.valueAt(0), 0.0);
    QCOMPARE(spring.valueAt(1), 1.0);
    QCOMPARE(animation.duration(), spring.durationMs());
    QVERIFY(spring.durationMs() > 0);
    animation.setCurrentTime(animation.duration());
    QCOMPARE(animation.currentValue().toDouble(), 30.0);

    // The first peak of a spring below critical damping: e^(−πζ/√(1−ζ²)) past the target; the
    // stretch to end exactly on it moves that by at most a few thousandths.
    const double overshoot = damping < 1 ? std::exp(-std::numbers::pi * damping / std::sqrt(1 - damping * damping)) : 0;
    double peak = 0;
    double previous = 0;
    for (int i = 0; i <= 400; ++i) {
        const double fraction = i / 400.0;
        const double value = spring.valueAt(fraction);
        if (damping >= 1)
            QVERIFY2(value >= previous - 1e-9, qPrintable(QString::number(fraction)));
        previous = value;
        peak = std::max(peak, value);
    }
    QVERIFY(peak <= 1 + overshoot + 0.003);
    if (damping < 1)
        QVERIFY(peak >= 1 + overshoot - 0.003);
    // Settled well before the end, so stretching it to the end shows no jump.
    QVERIFY(std::abs(spring.valueAt(0.9) - 1) < 0.02);
    animation.setCurrentTime(animation.duration() / 2);
    QCOMPARE(animation.currentValue().toDouble(), 10 + 20 * spring.valueAt(animation.currentTime() / double(animation.duration())));
}

void tst_WidgetKit::appearTransitionSettlesLikeShowAndHide()
{
    QWidget parent;
    parent.resize(200, 200);
    auto *target = new QWidget(&parent);
    target->setGeometry(10, 20, 60, 40);
    auto *transition = new KavrelAppearTransition(target, Qt::BottomEdge, 200, QEasingCurve::InOutQuad);

    // Off screen it only shows and hides.
    transition->setShown(false);
    QVERIFY(target->isHidden());
    QVERIFY(!transition->isRunning());
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    transition->setShown(true);
    QVERIFY(transition->isRunning());
    QVERIFY(target->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return !transition->isRunning(); }));
    QVERIFY(target->isVisible());
    QVERIFY(!target->graphicsEffect());
    QCOMPARE(target->geometry(), QRect(10, 20, 60, 40));

    // Leaving, it stays until the end; asking for the same again changes nothing.
    transition->setShown(false);
    transition->setShown(false);
    QVERIFY(target->isVisible());
    QVERIFY(target->graphicsEffect());
    transition->finish();
    QVERIFY(target->isHidden());
    QVERIFY(!target->graphicsEffect());

    // Turned back half-way, it ends shown.
    transition->setShown(true);
    transition->setShown(false);
    transition->setShown(true);
    transition->finish();
    QVERIFY(target->isVisible());
    QVERIFY(!target->graphicsEffect());
    QCOMPARE(target->geometry(), QRect(10, 20, 60, 40));
}

void tst_WidgetKit::crossFadeLeavesNothingBehind()
{
    QWidget view;
    view.resize(120, 80);
    auto *button = new QPushButton(QStringLiteral("Go"), &view);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    KavrelCrossFade *first = KavrelCrossFade::start(&view, KavrelSpring(0.3, 0.9));
    QCOMPARE(KavrelCrossFade::running(&view), first);
    QCOMPARE(first->geometry(), view.rect());
    // A second change replaces the first fade; clicks go through to the view.
    KavrelCrossFade *second = KavrelCrossFade::start(&view, KavrelSpring(0.3, 0.9));
    QCOMPARE(KavrelCrossFade::running(&view), second);
    QCOMPARE(view.childAt(button->geometry().center()), button);
    QVERIFY(QTest::qWaitFor([&] { return !KavrelCrossFade::running(&view); }));
}

void tst_WidgetKit::kitScreenshots()
{
    KavrelSymbols::setUsesIconTheme(false);
    QWidget sample;
    sample.setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(&sample);
    auto *row = new QHBoxLayout;
    auto *pill = new KavrelPill;
    pill->setSymbol(QStringLiteral("waveform"));
    auto *button = new KavrelCapsuleButton;
    button->setSymbol(QStringLiteral("mic.fill"));
    auto *busy = new KavrelCapsuleButton;
    busy->setSymbol(QStringLiteral("stop.fill"));
    busy->setBusy(true);
    auto *disabled = new KavrelCapsuleButton;
    disabled->setSymbol(QStringLiteral("stop.fill"));
    disabled->setEnabled(false);
    row->addWidget(pill);
    row->addWidget(button);
    row->addWidget(busy);
    row->addWidget(disabled);
    row->addStretch();
    layout->addLayout(row);
    auto *split = new KavrelSplitContainer;
    auto *left = new QLabel;
    auto *right = new QLabel;
    split->setPanels(left, right);
    split->divider()->setLook({24, 3, 2, KavrelSystemColors::secondaryLabel, 0.2, true, 10});
    layout->addWidget(split, 1);
    sample.resize(480, 220);
    sample.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sample));

    for (const auto &variant : Screenshots::variants()) {
        Screenshots::apply(&sample, variant);
        const bool russian = variant.language == KavrelAppLanguage::russian;
        pill->setText(russian ? QStringLiteral("Слушаю") : QStringLiteral("Listening"));
        button->setText(russian ? QStringLiteral("Микрофон") : QStringLiteral("Microphone"));
        busy->setText(russian ? QStringLiteral("Остановка") : QStringLiteral("Stopping"));
        disabled->setText(russian ? QStringLiteral("Стоп") : QStringLiteral("Stop"));
        left->setText(russian ? QStringLiteral("Расшифровка") : QStringLiteral("Transcript"));
        right->setText(russian ? QStringLiteral("Перевод") : QStringLiteral("Translation"));
        const QString path = Screenshots::write(&sample, QStringLiteral("widget-kit"), variant);
        QVERIFY(!path.isEmpty());
        QVERIFY(QImage(path).size() == QSize(960, 440));
    }
    KavrelSymbols::setUsesIconTheme(true);
}

QTEST_MAIN(tst_WidgetKit)
#include "tst_WidgetKit.moc"

#include "Screenshots.h"
#include "ScreenFitCheck.h"

#include "AccessibleBounds.h"
#include "AccessibleNames.h"
#include "RenderedContrast.h"
#include "localization/KavrelLocalizationStore.h"
#include "app/widgets/KavrelAppearanceController.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLayout>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <memory>

namespace Screenshots {

QList<Variant> variants()
{
    return {
        {KavrelColorScheme::light, KavrelAppLanguage::english, QStringLiteral("light-en")},
        {KavrelColorScheme::dark, KavrelAppLanguage::english, QStringLiteral("dark-en")},
        {KavrelColorScheme::light, KavrelAppLanguage::russian, QStringLiteral("light-ru")},
        {KavrelColorScheme::dark, KavrelAppLanguage::russian, QStringLiteral("dark-ru")},
    };
}

QString directory()
{
    QString root = qEnvironmentVariable("KAVREL_TEST_SOURCE_DIR");
    if (root.isEmpty())
        root = QDir::currentPath();
    // A run on another screen than the usual one keeps its pictures apart.
    const QString screen = qEnvironmentVariable("KAVREL_SCREENSHOTS_SCREEN");
    return QDir(root).filePath(screen.isEmpty() ? QStringLiteral("build/screenshots") : QStringLiteral("build/screenshots/") + screen);
}

// Texts the scenes hand to the store that are not interface keys. Texts that cannot be an
// English key are never listed: one without a Latin letter, one already in Russian (the
// product name aside), a language code.
const QStringList &notKeys()
{
    static const QStringList texts{
        // The fixtures' user content: names, addresses, a stored speaker label, plan names the
        // billing server sends.
        QStringLiteral("Ada Lovelace"),
        QStringLiteral("ada@example.com"),
        QStringLiteral("Speaker 2"),
        QStringLiteral("Pro"),
        QStringLiteral("Free"),
        // A server's own message, shown as it comes.
        QStringLiteral("Service Unavailable: The billing service is down."),
        // Sample input the sign-in fields show as placeholders.
        QStringLiteral("name@company.com"),
        QStringLiteral("BrightKey7$x"),
    };
    return texts;
}

bool cannotBeAKey(QString text)
{
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    static const QRegularExpression languageCode(QStringLiteral("^[A-Z]{2}$"));
    text.remove(QStringLiteral("КАВРЕЛ"));
    return !text.contains(latin) || text.contains(cyrillic) || text.contains(languageCode);
}

QStringList untranslatedTexts()
{
    QStringList texts;
    for (const QString &text : KavrelLocalizationStore::shared().recordedMisses()) {
        if (!cannotBeAKey(text) && !notKeys().contains(text))
            texts.append(text);
    }
    return texts;
}

void apply(QWidget *widget, const Variant &variant)
{
    // The accessibility factory stands in front of Qt's before a scene is read, as main() puts it.
    KavrelAccessibleFactory::install();
    KavrelLocalizationStore::shared().setLanguage(variant.language);
    // From here on the scene is built in the variant's language; write() reports every text
    // it looked up in vain.
    KavrelLocalizationStore::shared().setRecordingMisses(variant.language != KavrelAppLanguage::english);
    applyProgramPalette(variant);
    // The scene's window follows the application's palette, as the program's windows do.
    widget->setPalette(QPalette());
}

QPalette desktopPalette(KavrelColorScheme scheme)
{
    if (scheme == KavrelColorScheme::dark)
        return QPalette(QColor(0x35, 0x35, 0x35));
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

void applyProgramPalette(const Variant &variant)
{
    // Following the desktop in Russian, where the contrast is checked: a palette the desktop
    // gives is what the program would keep if it kept any. English forces the scheme over a
    // desktop of the other one.
    const bool followsDesktop = variant.language != KavrelAppLanguage::english;
    const KavrelColorScheme other = variant.scheme == KavrelColorScheme::dark ? KavrelColorScheme::light : KavrelColorScheme::dark;
    QApplication::setPalette(desktopPalette(followsDesktop ? variant.scheme : other));
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    if (!followsDesktop)
        defaults.setString(QString::fromLatin1(KavrelAppearance::defaultsKey), KavrelAppearance::rawValue(
                               variant.scheme == KavrelColorScheme::dark ? KavrelAppearanceMode::dark : KavrelAppearanceMode::light));
    const KavrelAppearanceController controller(defaults);
    QCOMPARE(controller.effectiveScheme(), variant.scheme);
}

namespace {

// Texts the scene looked up without a row in the variant's language fail the running test.
void verifyTranslated(const QString &picture, const Variant &variant)
{
    if (variant.language == KavrelAppLanguage::english)
        return;
    const QStringList untranslated = untranslatedTexts();
    KavrelLocalizationStore::shared().setRecordingMisses(true); // the next scene starts afresh
    if (!untranslated.isEmpty()) {
        const QString message = picture + QStringLiteral(" shows texts without a row in its language: ")
                                + untranslated.join(QStringLiteral(" | "));
        QTest::qFail(qPrintable(message), __FILE__, __LINE__);
    }
}

} // namespace

QString write(QWidget *widget, const QString &name, const Variant &variant)
{
    const QString path = write(widget, name + QLatin1Char('-') + variant.suffix);
    if (variant.language != KavrelAppLanguage::english)
        RenderedContrast::verify(widget, QImage(path), name + QLatin1Char('-') + variant.suffix);
    verifyTranslated(name + QLatin1Char('-') + variant.suffix, variant);
    return path;
}

QString saveScreen(const QRect &area, const QString &name, const Variant &variant)
{
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    QScreen *screen = QGuiApplication::primaryScreen();
    const QPixmap picture = screen ? screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()) : QPixmap();
    const QString path = QDir(directory()).filePath(name + QLatin1Char('-') + variant.suffix + QStringLiteral(".png"));
    QDir().mkpath(QFileInfo(path).path());
    verifyTranslated(name + QLatin1Char('-') + variant.suffix, variant);
    return !picture.isNull() && picture.save(path) ? path : QString();
}

QString write(QWidget *widget, const QString &fileName)
{
    constexpr qreal ratio = 2;
    widget->ensurePolished();
    if (widget->layout())
        widget->layout()->activate();
    // Let posted layout and scroll-bar updates land before the picture is taken.
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    ScreenFitCheck::verify(widget, fileName);
    AccessibleNames::verify(widget, fileName);
    AccessibleBounds::verify(widget, fileName);
    QImage image(widget->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget->render(&image);

    QDir().mkpath(directory());
    const QString path = QDir(directory()).filePath(fileName + QStringLiteral(".png"));
    return image.save(path) ? path : QString();
}

} // namespace Screenshots

#include "Screenshots.h"

#include "localization/KavrelLocalizationStore.h"
#include "app/widgets/KavrelAppearanceController.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLayout>
#include <QWidget>

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
    return QDir(root).filePath(QStringLiteral("build/screenshots"));
}

void apply(QWidget *widget, const Variant &variant)
{
    KavrelLocalizationStore::shared().setLanguage(variant.language);
    widget->setPalette(KavrelAppearanceController::palette(variant.scheme));
}

QString write(QWidget *widget, const QString &name, const Variant &variant)
{
    return write(widget, name + QLatin1Char('-') + variant.suffix);
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
    QImage image(widget->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget->render(&image);

    QDir().mkpath(directory());
    const QString path = QDir(directory()).filePath(fileName + QStringLiteral(".png"));
    return image.save(path) ? path : QString();
}

} // namespace Screenshots

#include "kit/KavrelPalette.h"

#include <algorithm>
#include <cmath>

namespace {

double unit(double component)
{
    // A NaN component reads as 0 rather than reaching QColor, which warns and drops it.
    if (!(component >= 0))
        return 0;
    return std::min(component, 1.0);
}

double luminance(const QColor &color)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

} // namespace

double kavrelContrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor kavrelReadableOn(const QColor &color, const QColor &surface, double wanted)
{
    if (kavrelContrastRatio(color, surface) >= wanted)
        return color;
    // Black and white bound the search: on a light surface the text goes towards black, on a
    // dark one towards white, and the lightness closest to the colour's own that reads wins.
    const bool darker = kavrelContrastRatio(Qt::black, surface) >= kavrelContrastRatio(Qt::white, surface);
    const float hue = color.hslHueF();
    const float saturation = color.hslSaturationF();
    // In the 8 bits a channel has on screen, so that rounding cannot take the ratio back.
    const auto withLightness = [&](float lightness) { return QColor(QColor::fromHslF(hue, saturation, lightness).rgb()); };
    float reads = darker ? 0 : 1;
    float fails = color.lightnessF();
    for (int step = 0; step < 24; ++step) {
        const float middle = (reads + fails) / 2;
        if (kavrelContrastRatio(withLightness(middle), surface) >= wanted)
            reads = middle;
        else
            fails = middle;
    }
    QColor readable = withLightness(reads);
    readable.setAlphaF(color.alphaF());
    return readable;
}

QColor KavrelRGBA::toColor() const
{
    return QColor::fromRgbF(float(unit(red)), float(unit(green)), float(unit(blue)), float(unit(alpha)));
}

bool kavrelIsDark(const QPalette &palette)
{
    return palette.color(QPalette::Active, QPalette::Window).lightnessF() < 0.5;
}

KavrelColorScheme kavrelColorScheme(const QPalette &palette)
{
    return kavrelIsDark(palette) ? KavrelColorScheme::dark : KavrelColorScheme::light;
}

QColor KavrelDynamicColor::resolve(KavrelColorScheme scheme) const
{
    return (scheme == KavrelColorScheme::dark ? dark : light).toColor();
}

QColor KavrelDynamicColor::resolve(const QPalette &palette) const
{
    return resolve(kavrelColorScheme(palette));
}

QColor KavrelDynamicColor::resolve(const QPalette &palette, double opacity) const
{
    QColor color = resolve(palette);
    color.setAlphaF(float(unit(color.alphaF() * opacity)));
    return color;
}

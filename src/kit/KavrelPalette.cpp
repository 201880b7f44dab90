#include "kit/KavrelPalette.h"

#include <algorithm>

namespace {

double unit(double component)
{
    // A NaN component reads as 0 rather than reaching QColor, which warns and drops it.
    if (!(component >= 0))
        return 0;
    return std::min(component, 1.0);
}

} // namespace

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

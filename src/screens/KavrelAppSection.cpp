#include "screens/KavrelAppSection.h"

namespace KavrelAppSections {

QString rawValue(KavrelAppSection section)
{
    switch (section) {
    case KavrelAppSection::workspace:
        return QStringLiteral("workspace");
    case KavrelAppSection::profile:
        return QStringLiteral("profile");
    case KavrelAppSection::history:
        return QStringLiteral("history");
    }
    return QString();
}

std::optional<KavrelAppSection> fromRawValue(const QString &raw)
{
    for (KavrelAppSection section : allCases) {
        if (rawValue(section) == raw)
            return section;
    }
    return std::nullopt;
}

QString titleKey(KavrelAppSection section)
{
    switch (section) {
    case KavrelAppSection::workspace:
        return QStringLiteral("Workspace");
    case KavrelAppSection::profile:
        return QStringLiteral("Profile");
    case KavrelAppSection::history:
        return QStringLiteral("History");
    }
    return QString();
}

QString systemImage(KavrelAppSection section)
{
    switch (section) {
    case KavrelAppSection::workspace:
        return QStringLiteral("rectangle.split.3x1");
    case KavrelAppSection::profile:
        return QStringLiteral("person.crop.circle");
    case KavrelAppSection::history:
        return QStringLiteral("clock.arrow.circlepath");
    }
    return QString();
}

} // namespace KavrelAppSections

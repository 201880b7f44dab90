#include "services/KavrelUpdaterError.h"

QString KavrelUpdaterError::message() const
{
    switch (m_case) {
    case Case::feedStatus:
        return QStringLiteral("The update feed answered with status %1.").arg(m_status);
    case Case::invalidFeed:
        return QStringLiteral("The update feed could not be read.");
    case Case::unreadableVersion:
        return QStringLiteral("The update feed names a version that cannot be read.");
    }
    return QString();
}

#include "detection/MeetingApp.h"

#include "base/Text.h"

#include <QRegularExpression>
#include <QStringList>

namespace MeetingApps {

namespace {

QString ownWord(MeetingApp app)
{
    return app == MeetingApp::zoom ? QStringLiteral("zoom") : QStringLiteral("webex");
}

const QStringList &meetingKeywords(MeetingApp app)
{
    static const QStringList zoom{QStringLiteral("zoom meeting"), QStringLiteral("zoom webinar"),
                                  QStringLiteral("webinar"), QStringLiteral("waiting room"),
                                  QStringLiteral("meeting id")};
    static const QStringList webex{QStringLiteral("webex meeting"), QStringLiteral("meeting information"),
                                   QStringLiteral("meeting details"), QStringLiteral("personal room"),
                                   QStringLiteral("webex call")};
    return app == MeetingApp::zoom ? zoom : webex;
}

QString windowText(const std::optional<QString> &windowTitle, const QString &ownerName)
{
    return (windowTitle.value_or(QString()) + QLatin1Char(' ') + ownerName).toLower();
}

} // namespace

QString rawValue(MeetingApp app)
{
    return ownWord(app);
}

std::optional<MeetingApp> fromRawValue(const QString &raw)
{
    if (raw == QLatin1String("zoom"))
        return MeetingApp::zoom;
    if (raw == QLatin1String("webex"))
        return MeetingApp::webex;
    return std::nullopt;
}

QString displayName(MeetingApp app)
{
    return app == MeetingApp::zoom ? QStringLiteral("Zoom") : QStringLiteral("Cisco Webex");
}

std::optional<MeetingApp> matchRunningApplication(const std::optional<QString> &identifier,
                                                  const std::optional<QString> &appName)
{
    const QString id = identifier.value_or(QString()).toLower();
    const QString name = appName.value_or(QString()).toLower();
    if (id.contains(QLatin1String("zoom")) || name.contains(QLatin1String("zoom")))
        return MeetingApp::zoom;
    if (id.contains(QLatin1String("webex")) || id.contains(QLatin1String("cisco")) || name.contains(QLatin1String("webex")))
        return MeetingApp::webex;
    return std::nullopt;
}

std::optional<MeetingApp> matchWindow(const std::optional<QString> &windowTitle, const QString &ownerName)
{
    const QString text = windowText(windowTitle, ownerName);
    if (text.contains(QLatin1String("zoom")))
        return MeetingApp::zoom;
    if (text.contains(QLatin1String("webex")))
        return MeetingApp::webex;
    return std::nullopt;
}

std::optional<MeetingApp> otherMatchingApp(MeetingApp first, const std::optional<QString> &windowTitle,
                                           const QString &ownerName)
{
    const MeetingApp other = first == MeetingApp::zoom ? MeetingApp::webex : MeetingApp::zoom;
    if (windowText(windowTitle, ownerName).contains(ownWord(other)))
        return other;
    return std::nullopt;
}

bool isKnownNonMeetingTitle(const QString &normalizedTitle)
{
    static const QStringList exact{QStringLiteral("webex"),          QStringLiteral("cisco webex"),
                                   QStringLiteral("zoom"),           QStringLiteral("zoom workplace"),
                                   QStringLiteral("set a status"),   QStringLiteral("messaging"),
                                   QStringLiteral("meetings")};
    return normalizedTitle.isEmpty() || exact.contains(normalizedTitle)
        || normalizedTitle.contains(QLatin1String("search, meet and call"));
}

bool hasMeetingSignal(MeetingApp app, const std::optional<QString> &windowTitle, const QString &ownerName)
{
    const QString title = Text::trimmed(windowTitle.value_or(QString())).toLower();
    if (isKnownNonMeetingTitle(title))
        return false;
    for (const QString &keyword : meetingKeywords(app)) {
        if (title.contains(keyword))
            return true;
    }
    if (!ownerName.toLower().contains(ownWord(app)))
        return false;
    // "meeting" as a word of its own, with word boundaries of every script ("meetings" and
    // "meetingвстреча" are not the word).
    static const QRegularExpression word(QStringLiteral("\\bmeeting\\b"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    return word.match(title).hasMatch();
}

} // namespace MeetingApps

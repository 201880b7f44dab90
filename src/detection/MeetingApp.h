#pragma once

#include <QString>

#include <optional>

// The meeting applications that detection knows.
enum class MeetingApp { zoom, webex };

// What the title of a window or the name of an application says about a meeting application.
// Nothing here holds state.
namespace MeetingApps {

// "zoom", "webex": the wire form, part of a meeting's key.
QString rawValue(MeetingApp app);
std::optional<MeetingApp> fromRawValue(const QString &raw);
// "Zoom", "Cisco Webex": the name shown when the running application gives none.
QString displayName(MeetingApp app);

// The application a running process belongs to, from its identifier (the executable's base
// name) and its name. Zoom wins when both would match.
std::optional<MeetingApp> matchRunningApplication(const std::optional<QString> &identifier,
                                                  const std::optional<QString> &appName);
// The application named by a window's title or owner, for windows of processes that are not
// known meeting applications. Zoom first, then Webex.
std::optional<MeetingApp> matchWindow(const std::optional<QString> &windowTitle, const QString &ownerName);
// The other application too, when the title or owner names it: a Webex window whose title
// mentions Zoom is still a Webex window.
std::optional<MeetingApp> otherMatchingApp(MeetingApp first, const std::optional<QString> &windowTitle,
                                           const QString &ownerName);

// Titles of the applications' own home, chat and search windows, which never mean a meeting.
// The title is already trimmed and lower-cased.
bool isKnownNonMeetingTitle(const QString &normalizedTitle);
// Whether a window of `app` with this title and owner shows a meeting.
bool hasMeetingSignal(MeetingApp app, const std::optional<QString> &windowTitle, const QString &ownerName);

} // namespace MeetingApps

#include "services/KavrelUpdater.h"

#include "services/KavrelUpdaterError.h"
#include "services/KavrelVersion.h"
#include "base/Async.h"
#include "base/Json.h"
#include "base/KavrelDiagnostics.h"
#include "base/Text.h"
#include "platform/ApplicationInfo.h"
#include "platform/HttpTransport.h"
#include "platform/NetworkError.h"

#include <QNetworkRequest>
#include <QPointer>

#include <utility>

namespace {

std::optional<QUrl> usableFeed(const std::optional<QUrl> &url)
{
    if (!url || !url->isValid())
        return std::nullopt;
    const QString scheme = url->scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return std::nullopt;
    return url;
}

// Reads the feed; throws KavrelUpdaterError for anything that is not a feed of a version this
// program can compare with its own.
KavrelAppcastItem parseFeed(const QByteArray &body)
{
    KavrelAppcastItem item;
    try {
        const JsonReader reader = JsonReader::parse(body, QStringLiteral("feed"));
        item.version = reader.string(QStringLiteral("version")).trimmed();
        item.displayVersionString = Text::nilIfEmpty(reader.optionalString(QStringLiteral("displayVersion"))).value_or(item.version);
    } catch (const JsonDecodeError &error) {
        qCWarning(KavrelDiagnostics::app()).noquote() << "the update feed is not a feed:" << error.message();
        throw KavrelUpdaterError::invalidFeed();
    }
    if (item.version.isEmpty())
        throw KavrelUpdaterError::invalidFeed();
    if (!KavrelVersion::isReadable(item.version)) {
        qCWarning(KavrelDiagnostics::app()).noquote() << "the update feed names a version that cannot be read:" << item.version;
        throw KavrelUpdaterError::unreadableVersion();
    }
    return item;
}

// The reason to show for a failed check. What the network stack says in its own words (and
// only in English) stays in the log.
QString shownFailure(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const NetworkError &failure) {
        if (failure.kind() == NetworkError::Kind::other)
            return NetworkError(failure.kind(), failure.code(), QString()).message();
        return failure.message();
    } catch (...) {
        return errorMessage(error);
    }
}

} // namespace

QString KavrelUserUpdateCheck::titleKey() const
{
    switch (outcome) {
    case Outcome::updateAvailable: return QStringLiteral("Update available");
    case Outcome::failed: return QStringLiteral("Update check failed");
    case Outcome::upToDate:
    case Outcome::updatesComeFromPackage: break;
    }
    return QStringLiteral("Check for Updates");
}

QString KavrelUserUpdateCheck::messageKey() const
{
    switch (outcome) {
    case Outcome::updatesComeFromPackage:
        return QStringLiteral("КАВРЕЛ is updated together with its package. Use your system's package manager to get the newest version.");
    case Outcome::updateAvailable:
        return QStringLiteral("КАВРЕЛ %@ is available. Update it with your system's package manager.");
    case Outcome::upToDate:
        return QStringLiteral("You are up to date: КАВРЕЛ %@ is the newest version.");
    case Outcome::failed:
        return QStringLiteral("The update check failed: %@");
    }
    return QString();
}

QString KavrelUserUpdateCheck::messageArgument() const
{
    return outcome == Outcome::failed ? error : version;
}

KavrelUpdater::KavrelUpdater(std::optional<QUrl> feedUrl, QString currentVersion, QObject *parent)
    : QObject(parent), m_feedUrl(usableFeed(feedUrl)), m_currentVersion(std::move(currentVersion))
{
    if (feedUrl && !m_feedUrl)
        qCWarning(KavrelDiagnostics::app()).noquote() << "update feed URL is not an http(s) URL, ignoring it:" << feedUrl->toString();
}

KavrelUpdater *KavrelUpdater::fromApplicationInfo(QObject *parent)
{
    std::optional<QUrl> feed;
    if (const auto text = Text::nilIfEmpty(ApplicationInfo::value(QString::fromLatin1(ApplicationInfo::UpdateFeedURLKey))))
        feed = QUrl(*text);
    return new KavrelUpdater(feed, ApplicationInfo::shortVersion(), parent);
}

void KavrelUpdater::checkForUpdateInformation()
{
    if (canCheckForUpdates())
        startCheck();
}

void KavrelUpdater::checkForUpdates()
{
    if (!m_feedUrl) {
        KavrelUserUpdateCheck result;
        result.outcome = KavrelUserUpdateCheck::Outcome::updatesComeFromPackage;
        Q_EMIT userCheckFinished(result);
        return;
    }
    // A check that runs (the one at start-up, or the user's own) answers this request too:
    // a second check beside it could only end later, and maybe otherwise.
    // Told before the check starts: an answer never comes before the news that one is awaited.
    m_userAwaitsAnswer = true;
    Q_EMIT userCheckStarted();
    if (!m_checkRunning)
        startCheck();
}

void KavrelUpdater::startCheck()
{
    m_checkRunning = true;
    QPointer<KavrelUpdater> self(this);
    spawnTask([self](CancellationToken token) -> QCoro::Task<void> {
        if (!self)
            co_return;
        KavrelUserUpdateCheck result;
        std::optional<KavrelAppcastItem> newer;
        std::optional<QString> failure;
        try {
            HttpTransport transport(&self->m_network);
            transport.setTimeout(self->m_timeout);
            QNetworkRequest request(*self->m_feedUrl);
            request.setRawHeader("Accept", "application/json");
            const HttpReply reply = co_await transport.send(request, "GET", std::nullopt, token);
            if (!self)
                co_return;
            if (reply.status != 200)
                throw KavrelUpdaterError::feedStatus(reply.status);
            const KavrelAppcastItem item = parseFeed(reply.body);
            if (KavrelVersion::compare(item.version, self->m_currentVersion) > 0)
                newer = item;
        } catch (...) {
            if (!self)
                co_return;
            failure = shownFailure(std::current_exception());
            qCWarning(KavrelDiagnostics::app()).noquote() << "update check failed:" << errorMessage(std::current_exception());
        }
        self->m_checkRunning = false;
        const bool answersUser = std::exchange(self->m_userAwaitsAnswer, false);
        if (failure) {
            result.outcome = KavrelUserUpdateCheck::Outcome::failed;
            result.error = *failure;
        } else if (newer) {
            result.outcome = KavrelUserUpdateCheck::Outcome::updateAvailable;
            result.version = newer->displayVersionString;
            Q_EMIT self->didFindValidUpdate(*newer);
        } else {
            result.outcome = KavrelUserUpdateCheck::Outcome::upToDate;
            result.version = self->m_currentVersion;
            Q_EMIT self->didNotFindUpdate();
        }
        if (!self)
            co_return;
        Q_EMIT self->didFinishUpdateCycle(failure);
        if (self && answersUser)
            Q_EMIT self->userCheckFinished(result);
    });
}

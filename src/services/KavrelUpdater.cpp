#include "services/KavrelUpdater.h"

#include "services/KavrelVersion.h"
#include "base/Async.h"
#include "base/Json.h"
#include "base/KavrelDiagnostics.h"
#include "base/Text.h"
#include "platform/ApplicationInfo.h"
#include "platform/HttpTransport.h"

#include <QNetworkRequest>
#include <QPointer>

namespace {

class UpdateFeedStatusError final : public KavrelError
{
public:
    explicit UpdateFeedStatusError(int status) : m_status(status) {}
    QString message() const override { return QStringLiteral("The update feed answered with status %1.").arg(m_status); }

private:
    int m_status;
};

std::optional<QUrl> usableFeed(const std::optional<QUrl> &url)
{
    if (!url || !url->isValid())
        return std::nullopt;
    const QString scheme = url->scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return std::nullopt;
    return url;
}

// Reads the feed; throws a JsonDecodeError for anything that is not a feed.
KavrelAppcastItem parseFeed(const QByteArray &body)
{
    const JsonReader reader = JsonReader::parse(body, QStringLiteral("feed"));
    KavrelAppcastItem item;
    item.version = reader.string(QStringLiteral("version")).trimmed();
    if (item.version.isEmpty())
        reader.fail(QStringLiteral("version"), QStringLiteral("is empty"));
    item.displayVersionString = Text::nilIfEmpty(reader.optionalString(QStringLiteral("displayVersion"))).value_or(item.version);
    return item;
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
        startCheck(false);
}

void KavrelUpdater::checkForUpdates()
{
    if (!m_feedUrl) {
        KavrelUserUpdateCheck result;
        result.outcome = KavrelUserUpdateCheck::Outcome::updatesComeFromPackage;
        Q_EMIT userCheckFinished(result);
        return;
    }
    if (m_checkRunning) {
        // One check at a time; the user's answer comes from the next one.
        QPointer<KavrelUpdater> self(this);
        QObject *waiter = new QObject(this);
        connect(this, &KavrelUpdater::didFinishUpdateCycle, waiter, [self, waiter] {
            waiter->deleteLater();
            if (self)
                self->startCheck(true);
        });
        return;
    }
    startCheck(true);
}

void KavrelUpdater::startCheck(bool userInitiated)
{
    m_checkRunning = true;
    QPointer<KavrelUpdater> self(this);
    spawnTask([self, userInitiated](CancellationToken token) -> QCoro::Task<void> {
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
                throw UpdateFeedStatusError(reply.status);
            const KavrelAppcastItem item = parseFeed(reply.body);
            if (KavrelVersion::compare(item.version, self->m_currentVersion) > 0)
                newer = item;
        } catch (...) {
            if (!self)
                co_return;
            failure = errorMessage(std::current_exception());
            qCWarning(KavrelDiagnostics::app()).noquote() << "update check failed:" << *failure;
        }
        self->m_checkRunning = false;
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
        if (self && userInitiated)
            Q_EMIT self->userCheckFinished(result);
    });
}

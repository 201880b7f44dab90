#include "services/KavrelUpdateController.h"

#include "base/Async.h"

#include <utility>

KavrelUpdateController &KavrelUpdateController::shared()
{
    static KavrelUpdateController *controller = new KavrelUpdateController(
        [](QObject *parent) { return KavrelUpdater::fromApplicationInfo(parent); });
    return *controller;
}

KavrelUpdateController::KavrelUpdateController(UpdaterFactory factory, QObject *parent)
    : QObject(parent), m_factory(std::move(factory))
{
}

KavrelUpdater &KavrelUpdateController::updaterController()
{
    if (!m_updater) {
        m_updater = m_factory(this);
        connect(m_updater, &KavrelUpdater::didFindValidUpdate, this,
                [this](const KavrelAppcastItem &item) { setAvailableUpdateDisplayVersion(item.displayVersionString); });
        connect(m_updater, &KavrelUpdater::didNotFindUpdate, this, [this] { setAvailableUpdateDisplayVersion(std::nullopt); });
        connect(m_updater, &KavrelUpdater::didFinishUpdateCycle, this, [this](const std::optional<QString> &error) {
            if (error)
                setAvailableUpdateDisplayVersion(std::nullopt);
            // The later check came while this one still ran: it follows now, once this one has
            // told everyone its answer.
            if (std::exchange(m_startupRefreshWaiting, false))
                QMetaObject::invokeMethod(this, [this] { updaterController().checkForUpdateInformation(); },
                                          Qt::QueuedConnection);
        });
    }
    return *m_updater;
}

void KavrelUpdateController::activate()
{
    KavrelUpdater &updater = updaterController();
    if (updater.canCheckForUpdates())
        updater.checkForUpdateInformation();
    if (m_didScheduleStartupRefresh)
        return;
    m_didScheduleStartupRefresh = true;
    QPointer<KavrelUpdateController> self(this);
    const std::chrono::milliseconds delay = m_startupRefreshDelay;
    spawnTask([self, delay](CancellationToken token) -> QCoro::Task<void> {
        try {
            co_await sleepFor(delay, token);
        } catch (...) {
            // An interrupted sleep still leads to the check.
        }
        if (!self)
            co_return;
        if (self->updaterController().canCheckForUpdates())
            self->updaterController().checkForUpdateInformation();
        else
            self->m_startupRefreshWaiting = true;
    });
}

void KavrelUpdateController::setAvailableUpdateDisplayVersion(std::optional<QString> version)
{
    if (version == m_availableUpdateDisplayVersion)
        return;
    m_availableUpdateDisplayVersion = std::move(version);
    Q_EMIT availableUpdateDisplayVersionChanged();
}

#include "signin/AppPermissionsController.h"

#include "base/Async.h"

#include <QPointer>

AppPermissionsController::AppPermissionsController(std::shared_ptr<MicrophoneAuthorization> authorization, QObject *parent)
    : QObject(parent)
    , m_authorization(std::move(authorization))
{
    refreshMicrophoneState();
}

AppPermissionsController::~AppPermissionsController() = default;

AppPermissionsController::MicrophoneState AppPermissionsController::stateFor(MicrophoneAuthorization::Status status)
{
    switch (status) {
    case MicrophoneAuthorization::Status::notDetermined:
        return MicrophoneState::notDetermined;
    case MicrophoneAuthorization::Status::restricted:
    case MicrophoneAuthorization::Status::denied:
        return MicrophoneState::denied;
    case MicrophoneAuthorization::Status::authorized:
        return MicrophoneState::granted;
    }
    return MicrophoneState::denied;
}

void AppPermissionsController::setMicrophoneState(MicrophoneState state)
{
    if (m_microphoneState == state)
        return;
    m_microphoneState = state;
    Q_EMIT microphoneStateChanged();
}

void AppPermissionsController::setIsRequestingMicrophoneAccess(bool value)
{
    if (m_isRequestingMicrophoneAccess == value)
        return;
    m_isRequestingMicrophoneAccess = value;
    Q_EMIT isRequestingMicrophoneAccessChanged();
}

void AppPermissionsController::refreshMicrophoneState()
{
    const QUuid generation = m_readGeneration.renew();
    if (const std::optional<MicrophoneAuthorization::Status> cached = m_authorization->cachedStatus()) {
        setMicrophoneState(stateFor(*cached));
        return;
    }
    QPointer<AppPermissionsController> self(this);
    std::shared_ptr<MicrophoneAuthorization> authorization = m_authorization;
    spawnTask([self, authorization, generation](CancellationToken) -> QCoro::Task<void> {
        return [](QPointer<AppPermissionsController> self, std::shared_ptr<MicrophoneAuthorization> authorization,
                  QUuid generation) -> QCoro::Task<void> {
            const MicrophoneAuthorization::Status status = co_await authorization->status();
            if (!self || !self->m_readGeneration.isCurrent(generation))
                co_return;
            self->setMicrophoneState(stateFor(status));
        }(self, authorization, generation);
    });
}

QCoro::Task<void> AppPermissionsController::requestMicrophoneAccess()
{
    if (m_isRequestingMicrophoneAccess)
        co_return;
    // Set before the first suspension, so a second call cannot pass the check above.
    setIsRequestingMicrophoneAccess(true);
    QPointer<AppPermissionsController> self(this);
    std::shared_ptr<MicrophoneAuthorization> authorization = m_authorization;

    const MicrophoneAuthorization::Status before = co_await authorization->status();
    if (!self)
        co_return;
    switch (before) {
    case MicrophoneAuthorization::Status::restricted:
    case MicrophoneAuthorization::Status::denied:
        // Nothing waits for the user to come back; the next activation reads the state again.
        authorization->openSettings();
        break;
    case MicrophoneAuthorization::Status::notDetermined:
        co_await authorization->requestAccess();
        break;
    case MicrophoneAuthorization::Status::authorized:
        break;
    }
    if (!self)
        co_return;

    const QUuid generation = m_readGeneration.renew();
    const MicrophoneAuthorization::Status after = co_await authorization->status();
    if (!self)
        co_return;
    setIsRequestingMicrophoneAccess(false);
    if (m_readGeneration.isCurrent(generation))
        setMicrophoneState(stateFor(after));
}

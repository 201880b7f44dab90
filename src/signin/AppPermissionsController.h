#pragma once

#include "base/Async.h"
#include "signin/MicrophoneAuthorization.h"

#include <QObject>

#include <qcoro/qcorotask.h>

#include <memory>

// Mirrors the platform's microphone permission for the onboarding screen and offers the one
// action about it: ask for access, or send the user to the sound settings when it was
// refused. It stores nothing; the platform is the only record, read again on every refresh.
//
// Main thread only. Reads that need the audio server run as tasks; a later read always wins
// over an earlier one that answers late.
class AppPermissionsController final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(MicrophoneState microphoneState READ microphoneState NOTIFY microphoneStateChanged)
    Q_PROPERTY(bool isRequestingMicrophoneAccess READ isRequestingMicrophoneAccess NOTIFY isRequestingMicrophoneAccessChanged)

public:
    enum class MicrophoneState { notDetermined, denied, granted };
    Q_ENUM(MicrophoneState)

    // Reads the current state at once (never prompts).
    explicit AppPermissionsController(std::shared_ptr<MicrophoneAuthorization> authorization, QObject *parent = nullptr);
    ~AppPermissionsController() override;

    MicrophoneState microphoneState() const { return m_microphoneState; }
    bool isRequestingMicrophoneAccess() const { return m_isRequestingMicrophoneAccess; }

    static MicrophoneState stateFor(MicrophoneAuthorization::Status status);

    // Reads the platform state again and publishes it. Never prompts.
    void refreshMicrophoneState();
    // Asks for access when nobody has been asked yet, opens the sound settings when access
    // was refused, and publishes the state read afterwards. A call while one runs returns at
    // once and changes nothing.
    QCoro::Task<void> requestMicrophoneAccess();

Q_SIGNALS:
    void microphoneStateChanged();
    void isRequestingMicrophoneAccessChanged();

private:
    void setMicrophoneState(MicrophoneState state);
    void setIsRequestingMicrophoneAccess(bool value);

    std::shared_ptr<MicrophoneAuthorization> m_authorization;
    MicrophoneState m_microphoneState = MicrophoneState::notDetermined;
    bool m_isRequestingMicrophoneAccess = false;
    // Renewed by every read, so that only the newest one publishes.
    GenerationId m_readGeneration;
};

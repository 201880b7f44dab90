#pragma once

#include "accounts/AppleAuthorizationTypes.h"
#include "base/Continuation.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <variant>

class AppleAuthorizationController;

// Receives the outcome of one Apple authorization and hands it to the one waiting caller,
// exactly once; later or repeated outcomes are ignored.
class AppleAuthorizationSession final : public QObject
{
    Q_OBJECT

public:
    AppleAuthorizationSession(QString rawNonce, QString state, QObject *parent = nullptr);

    QString rawNonce() const { return m_rawNonce; }
    QString state() const { return m_state; }
    AppleAuthorizationController *controller() const;
    void setController(AppleAuthorizationController *controller);

    // The provider's reports.
    void didCompleteWithAuthorization(const AppleAuthorization &authorization);
    void didCompleteWithError(std::exception_ptr error);

    // Installs the continuation and waits for the outcome.
    QCoro::Task<AppleAuthorizationResult> waitForResult();
    bool hasPendingContinuation() const { return m_continuation.isPending(); }

    // The cancel path: tells the controller to stop and ends the wait with a
    // CancellationError. Nothing happens when nobody waits.
    void cancel();

private:
    void finish(std::variant<AppleAuthorizationResult, std::exception_ptr> result);

    QString m_rawNonce;
    QString m_state;
    QPointer<AppleAuthorizationController> m_controller;
    ContinuationSlot<AppleAuthorizationResult> m_continuation;
};

#include "session/SignedInAccountFollower.h"

#include "accounts/AuthService.h"
#include "base/Async.h"
#include "base/TaskOutcome.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/SubtitleViewModel.h"

#include <QTimer>

SignedInAccountFollower::SignedInAccountFollower(AuthService *auth, SubtitleViewModel &viewModel,
                                                 MeetingHistoryMirror *history, BillingUsageReporter *billing,
                                                 QObject *parent)
    : QObject(parent)
    , m_auth(auth)
    , m_viewModel(viewModel)
    , m_history(history)
    , m_billing(billing)
{
    if (!auth)
        return;
    connect(auth, &AuthService::sessionSaved, this, [this](const AuthSession &session) {
        m_told = true;
        follow(session.user.id);
    });
    connect(auth, &AuthService::savedSessionDeleted, this, [this] {
        m_told = true;
        follow(std::nullopt);
    });
    // Once the view model is whole: it restores its draft after making this object.
    QTimer::singleShot(0, this, [this] {
        spawnTask([self = QPointer<SignedInAccountFollower>(this)](CancellationToken) -> QCoro::Task<void> {
            if (self)
                co_await self->followSavedAccount();
        });
    });
    for (auto busy : {&SubtitleViewModel::isBusyChanged, &SubtitleViewModel::isMicrophoneBusyChanged}) {
        connect(&viewModel, busy, this, &SignedInAccountFollower::handOverMeetingOfAnotherAccount);
        connect(&viewModel, busy, this, &SignedInAccountFollower::stopListeningOfSignedOut);
    }
}

QCoro::Task<std::optional<QString>> SignedInAccountFollower::savedAccount(QPointer<AuthService> auth)
{
    if (!auth)
        co_return std::nullopt;
    const TaskOutcome<std::optional<AuthSession>> saved = co_await outcomeOf(auth->loadSavedSession());
    if (saved.failed() || !*saved.value)
        co_return std::nullopt;
    co_return (*saved.value)->user.id;
}

QCoro::Task<void> SignedInAccountFollower::followSavedAccount()
{
    QPointer<SignedInAccountFollower> self(this);
    const std::optional<QString> account = co_await savedAccount(m_auth);
    // A sign-in or sign-out meanwhile tells more than this look did.
    if (self && !m_told)
        follow(account);
}

void SignedInAccountFollower::follow(const std::optional<QString> &accountID)
{
    m_signedInAccount = accountID;
    if (!accountID) {
        m_history->noteSignedOut();
        // The meeting is this account's, and its speech and AI requests ran on its session: with
        // nobody signed in, nothing listens on.
        m_stopOwed = m_viewModel.hasActiveSession() || m_viewModel.isBusy() || m_viewModel.isMicrophoneBusy();
        stopListeningOfSignedOut();
        return;
    }
    m_stopOwed = false;
    // A meeting kept from before accounts were kept is this account's.
    if (!m_history->accountID()) {
        const bool hasMeeting = m_viewModel.turnStore()->count() > 0;
        if (hasMeeting || m_history->startedAt() || m_history->sessionID())
            m_history->noteMeetingAccount(*accountID);
        if (hasMeeting)
            m_viewModel.draftStore()->scheduleDraftAutosave();
    }
    handOverMeetingOfAnotherAccount();
    m_history->noteSignedIn(*accountID);
    if (m_billing)
        m_billing->noteSignedIn(*accountID);
    Q_EMIT accountSignedIn(*accountID);
}

bool SignedInAccountFollower::showsMeetingOfAnotherAccount() const
{
    const std::optional<QString> meetingAccount = m_history->accountID();
    return m_signedInAccount && meetingAccount && *meetingAccount != *m_signedInAccount;
}

void SignedInAccountFollower::stopListeningOfSignedOut()
{
    if (!m_stopOwed || m_viewModel.isBusy() || m_viewModel.isMicrophoneBusy())
        return;
    m_stopOwed = false;
    // A start under way that failed leaves nothing to stop.
    if (!m_viewModel.hasActiveSession())
        return;
    m_viewModel.stopActiveSession();
    Q_EMIT listeningStoppedBySignOut();
}

void SignedInAccountFollower::handOverMeetingOfAnotherAccount()
{
    if (!showsMeetingOfAnotherAccount() || m_viewModel.isBusy() || m_viewModel.isMicrophoneBusy())
        return;
    // As Start New does: a listening that goes on is stopped, the meeting's completed record is
    // handed over (kept on this computer, and saved when its account signs in) and the workspace
    // is emptied.
    m_viewModel.startNewSession();
}

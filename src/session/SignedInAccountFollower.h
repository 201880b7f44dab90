#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

class AuthService;
class BillingUsageReporter;
class MeetingHistoryMirror;
class SubtitleViewModel;

// Follows who is signed in (the auth service's saved session) for the engine's meetings, each of
// which belongs to the account signed in when it was recorded:
//  - the history and the usage reports learn of every sign-in and sign-out, so a meeting waiting
//    for its own account is saved as soon as that account signs in again;
//  - a meeting on screen that belongs to another account than the one signing in is handed over
//    to wait for its own (kept on this computer, like a meeting finished by Start New), and the
//    account signing in starts with an empty workspace;
//  - a meeting kept from before accounts were kept goes with the first account that signs in;
//  - nobody signed in means nothing listening: a sign-out (by the user, or a session the backend
//    refused for good) stops the listening as Stop does, once a start or stop under way is
//    through. The meeting stays on screen and waits for its own account, as any meeting finished
//    while nobody is signed in does.
//
// A sign-in is followed as its session is saved, in the same turn of the event loop in which the
// screens learn of it: the workspace is never drawn for one account with another's meeting.
//
// Main thread only.
class SignedInAccountFollower final : public QObject
{
    Q_OBJECT

public:
    // What the sign-in screen says after a sign-out stopped the listening (an interface key).
    static constexpr const char *listeningStoppedNotice =
        "Listening stopped because you were signed out. The meeting is kept on this computer and will be saved to "
        "the history when you sign in to its account again.";

    // The view model owns the history and billing given, and this object.
    SignedInAccountFollower(AuthService *auth, SubtitleViewModel &viewModel, MeetingHistoryMirror *history,
                            BillingUsageReporter *billing, QObject *parent = nullptr);

    std::optional<QString> signedInAccount() const { return m_signedInAccount; }

    // The id of the account whose session is saved now, if any: no refresh and no request.
    static QCoro::Task<std::optional<QString>> savedAccount(QPointer<AuthService> auth);

Q_SIGNALS:
    // An account signed in (again, at every save of its session).
    void accountSignedIn(const QString &accountID);
    // A sign-out stopped the listening; the meeting is kept for its account.
    void listeningStoppedBySignOut();

private:
    void follow(const std::optional<QString> &accountID);
    // The meeting on screen belongs to another account than the one signed in: it goes (once the
    // session commands are free, when a start or stop is under way).
    void handOverMeetingOfAnotherAccount();
    bool showsMeetingOfAnotherAccount() const;
    // After a sign-out: stops what listens (once the session commands are free).
    void stopListeningOfSignedOut();
    QCoro::Task<void> followSavedAccount();

    QPointer<AuthService> m_auth;
    SubtitleViewModel &m_viewModel;
    MeetingHistoryMirror *m_history;
    BillingUsageReporter *m_billing;
    std::optional<QString> m_signedInAccount;
    // A sign-in or sign-out was told before the first look at the saved session ended.
    bool m_told = false;
    // A sign-out came while listening (or while a start was under way), and nobody signed in since.
    bool m_stopOwed = false;
};

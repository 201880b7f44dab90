#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

// An update found in the version feed.
struct KavrelAppcastItem
{
    QString version;
    QString displayVersionString;
};

// What the user's own "Check for Updates..." found, for the window that tells them.
struct KavrelUserUpdateCheck
{
    enum class Outcome {
        updatesComeFromPackage, // no feed: updates come with the installed package
        updateAvailable,
        upToDate,
        failed,
    };
    Outcome outcome = Outcome::updatesComeFromPackage;
    QString version; // the newer version, or the running one when up to date
    QString error;   // why the check failed, in one of the program's English texts

    // English interface keys; the message takes `version` or `error` as its "%@".
    QString titleKey() const;
    QString messageKey() const;
    QString messageArgument() const;
};

// The program's updater: it reads an optional version feed over HTTPS and compares the newest
// version with the running one. It never downloads or installs anything: the program is
// installed and updated by the system's package manager.
//
// The feed is a JSON object: {"version": "1.5.0", "displayVersion": "1.5"}; "displayVersion"
// is optional and defaults to "version".
class KavrelUpdater final : public QObject
{
    Q_OBJECT

public:
    // A feed URL that is not http(s) counts as none.
    KavrelUpdater(std::optional<QUrl> feedUrl, QString currentVersion, QObject *parent = nullptr);

    // The feed from the information table and the running version.
    static KavrelUpdater *fromApplicationInfo(QObject *parent = nullptr);

    bool hasFeed() const { return m_feedUrl.has_value(); }
    // True when a check may start now: there is a feed and no check runs.
    bool canCheckForUpdates() const { return m_feedUrl.has_value() && !m_checkRunning; }
    // A background check; the answer arrives through the signals below.
    void checkForUpdateInformation();
    // The user's check. Without a feed it answers at once that updates come from the package.
    // With one, userCheckStarted tells at once that a check is under way: a new one, or the
    // one already running, which the user's request joins. However many requests join a
    // check, it gives one answer, through userCheckFinished (and the signals below).
    void checkForUpdates();

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

Q_SIGNALS:
    void userCheckStarted();
    void didFindValidUpdate(const KavrelAppcastItem &item);
    void didNotFindUpdate();
    // Every check ends with this; `error` holds why it failed.
    void didFinishUpdateCycle(const std::optional<QString> &error);
    void userCheckFinished(const KavrelUserUpdateCheck &result);

private:
    void startCheck();

    std::optional<QUrl> m_feedUrl;
    QString m_currentVersion;
    QNetworkAccessManager m_network;
    std::chrono::milliseconds m_timeout{30000};
    bool m_checkRunning = false;
    // The running check's answer goes to the user too.
    bool m_userAwaitsAnswer = false;
};

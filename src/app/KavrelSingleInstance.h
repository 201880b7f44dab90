#pragma once

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>

// One running program per user. The first start listens on a local socket in the user's
// runtime folder that only the same user can open; a later start hands its URLs (or, without
// any, a reopen request) to it and ends. Requests are one line each and capped in length; a
// peer running as another user, an over-long or malformed request is dropped.
//
// Each request is answered with one line: "ok" when it was taken, "quitting" from a program on
// its way out, which takes nothing. A start answered "quitting" (or not at all: the program
// ended before it read the request) waits for that process to end and starts as usual then. A
// start that stays unanswered while the connection stays open (the program hangs, or its process
// is stopped) is not counted as handed over: the user is told, and nothing else opens.
class KavrelSingleInstance final : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype maximumRequestBytes = 16 * 1024;

    enum class StartResult {
        run,
        handedOver,
        failed,
        unanswered, // a copy holds the socket open but did not answer the request
    };

    struct Handover
    {
        enum class Outcome {
            delivered,  // taken
            declined,   // the program is on its way out, or ended before it read the request
            unanswered, // connected, but no answer in time: the program hangs or is stopped
            failed,     // nobody to hand it to, or it could not be sent
        };
        Outcome outcome = Outcome::failed;
        // The process that listens on the socket; 0 when unknown.
        qint64 processId = 0;
    };

    explicit KavrelSingleInstance(QString socketPath, QObject *parent = nullptr);
    ~KavrelSingleInstance() override;

    // "<runtime folder>/<bundle id>.instance".
    static QString defaultSocketPath();
    // The arguments that are URLs with a scheme (options and plain words are left out).
    static QList<QUrl> urlsFromArguments(const QStringList &arguments);

    enum class ListenResult { listening, anotherInstanceRuns, unavailable };

    // Becomes the first instance, unless another instance answers on the socket. A socket file
    // left behind by a crashed instance is replaced. Without a usable socket the program runs
    // on its own (unavailable).
    ListenResult listen();
    bool isListening() const;

    // The start of the program: listens as the first instance (run; so too when no socket is
    // usable), or hands the URLs over to the running one (handedOver). A program on its way out
    // is waited for, at most `quitWaitLimit`, and then the start is tried once more; failed when
    // the request could not be handed over or that program did not end; unanswered when the
    // running program took the connection but did not answer within `answerLimit`. Used before
    // the event loop runs: it blocks.
    StartResult start(const QList<QUrl> &urls, std::chrono::milliseconds quitWaitLimit,
                      std::chrono::milliseconds answerLimit = std::chrono::milliseconds(2000));
    // After an unanswered start: the process that holds the socket, 0 when unknown.
    qint64 unansweredProcessId() const { return m_unansweredProcessId; }

    // Hands the URLs (a reopen request when empty) to the running instance. Used before the
    // event loop runs, so it waits for the socket and its answer.
    static Handover forward(const QString &socketPath, const QList<QUrl> &urls,
                            std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // Waits until the process has ended, at most `limit`; true when it has.
    static bool waitForProcessEnd(qint64 processId, std::chrono::milliseconds limit);

    // The program is quitting: from now on requests are answered "quitting" and not acted on.
    void setQuitting();
    bool isQuitting() const { return m_quitting; }

    // How long a connection may take to send its request.
    void setRequestTimeLimit(std::chrono::milliseconds limit) { m_requestTimeLimit = limit; }

Q_SIGNALS:
    void urlsReceived(const QList<QUrl> &urls);
    void reopenRequested();

private:
    void acceptConnections();
    void handleRequest(const QByteArray &line);

    QString m_socketPath;
    std::unique_ptr<QLocalServer> m_server;
    std::chrono::milliseconds m_requestTimeLimit{5000};
    bool m_quitting = false;
    qint64 m_unansweredProcessId = 0;
};

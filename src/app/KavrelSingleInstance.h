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
class KavrelSingleInstance final : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype maximumRequestBytes = 16 * 1024;

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

    // Hands the URLs (a reopen request when empty) to the running instance. Used before the
    // event loop runs, so it waits for the socket; true when the request was delivered.
    static bool forward(const QString &socketPath, const QList<QUrl> &urls,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

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
};

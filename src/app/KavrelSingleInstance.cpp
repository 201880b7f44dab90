#include "app/KavrelSingleInstance.h"

#include "base/KavrelDiagnostics.h"
#include "platform/ApplicationInfo.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

const QByteArray reopenRequest = QByteArrayLiteral("reopen");
const QByteArray openRequestPrefix = QByteArrayLiteral("open ");
const QByteArray takenAnswer = QByteArrayLiteral("ok");
const QByteArray quittingAnswer = QByteArrayLiteral("quitting");


// The process at the other end of the connection, as the kernel knows it.
std::optional<ucred> peerCredentials(const QLocalSocket &socket)
{
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    const auto descriptor = static_cast<int>(socket.socketDescriptor());
    if (descriptor < 0 || getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials;
}

// The socket already lives in a folder only the user can enter; checking the peer as well keeps
// a socket path pointed elsewhere (by a test or a setting) just as private.
bool peerIsSameUser(const QLocalSocket &socket)
{
    const std::optional<ucred> credentials = peerCredentials(socket);
    return credentials && credentials->uid == getuid();
}

QByteArray encodeRequest(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return reopenRequest + '\n';
    QByteArrayList encoded;
    for (const QUrl &url : urls)
        encoded.append(url.toEncoded());
    // An encoded URL holds no spaces, so a space separates them.
    return openRequestPrefix + encoded.join(' ') + '\n';
}

} // namespace

KavrelSingleInstance::KavrelSingleInstance(QString socketPath, QObject *parent)
    : QObject(parent)
    , m_socketPath(std::move(socketPath))
{
}

KavrelSingleInstance::~KavrelSingleInstance() = default;

QString KavrelSingleInstance::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(ApplicationInfo::bundleIdentifier() + QStringLiteral(".instance"));
}

QList<QUrl> KavrelSingleInstance::urlsFromArguments(const QStringList &arguments)
{
    QList<QUrl> urls;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString &argument = arguments.at(index);
        if (argument.startsWith(QLatin1Char('-')))
            continue;
        const QUrl url(argument, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            urls.append(url);
    }
    return urls;
}

KavrelSingleInstance::ListenResult KavrelSingleInstance::listen()
{
    if (isListening())
        return ListenResult::listening;
    // Two starts at the same moment take turns, so only one of them ends up listening.
    QLockFile lock(m_socketPath + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(2000))
        qCWarning(KavrelDiagnostics::app()) << "single-instance lock not taken; going on without it";

    // Someone answers: another instance runs. A listening server would replace the socket file
    // of a running instance, so this is asked first.
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (probe.waitForConnected(500))
        return ListenResult::anotherInstanceRuns;
    // A file nobody answers on was left by an instance that crashed.
    QLocalServer::removeServer(m_socketPath);

    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->setMaxPendingConnections(8);
    if (!server->listen(m_socketPath)) {
        qCWarning(KavrelDiagnostics::app()).noquote() << "single-instance socket unavailable:" << server->errorString();
        return ListenResult::unavailable;
    }
    m_server = std::move(server);
    connect(m_server.get(), &QLocalServer::newConnection, this, &KavrelSingleInstance::acceptConnections);
    return ListenResult::listening;
}

bool KavrelSingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void KavrelSingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerIsSameUser(*socket)) {
            qCWarning(KavrelDiagnostics::app()) << "single-instance request from another user dropped";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        deadline->start(m_requestTimeLimit);

        QPointer<QLocalSocket> guarded(socket);
        connect(socket, &QLocalSocket::readyRead, this, [this, guarded] {
            if (!guarded)
                return;
            QLocalSocket *socket = guarded;
            const qsizetype newline = socket->peek(maximumRequestBytes + 1).indexOf('\n');
            if (newline < 0) {
                if (socket->bytesAvailable() > maximumRequestBytes) {
                    qCWarning(KavrelDiagnostics::app()) << "single-instance request over the length limit dropped";
                    socket->abort();
                    socket->deleteLater();
                }
                return;
            }
            const QByteArray line = socket->read(newline + 1).chopped(1);
            const bool quitting = m_quitting;
            socket->write((quitting ? quittingAnswer : takenAnswer) + '\n');
            socket->disconnectFromServer(); // once the answer is out
            if (!quitting)
                handleRequest(line);
        });
    }
}

void KavrelSingleInstance::handleRequest(const QByteArray &line)
{
    if (line == reopenRequest) {
        Q_EMIT reopenRequested();
        return;
    }
    if (!line.startsWith(openRequestPrefix))
        return;
    QList<QUrl> urls;
    const QByteArrayList parts = line.mid(openRequestPrefix.size()).split(' ');
    for (const QByteArray &part : parts) {
        const QUrl url = QUrl::fromEncoded(part, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            urls.append(url);
    }
    if (!urls.isEmpty())
        Q_EMIT urlsReceived(urls);
}

void KavrelSingleInstance::setQuitting()
{
    m_quitting = true;
}

KavrelSingleInstance::StartResult KavrelSingleInstance::start(const QList<QUrl> &urls,
                                                              std::chrono::milliseconds quitWaitLimit,
                                                              std::chrono::milliseconds answerLimit)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (listen() != ListenResult::anotherInstanceRuns)
            return StartResult::run;
        const Handover handover = forward(m_socketPath, urls, answerLimit);
        if (handover.outcome == Handover::Outcome::delivered)
            return StartResult::handedOver;
        if (handover.outcome == Handover::Outcome::failed)
            return StartResult::failed;
        if (handover.outcome == Handover::Outcome::unanswered) {
            qCWarning(KavrelDiagnostics::app()) << "the running copy" << handover.processId
                                                << "took the request but did not answer";
            m_unansweredProcessId = handover.processId;
            return StartResult::unanswered;
        }
        if (attempt > 0)
            break;
        // Its windows are gone already and it takes nothing; once it has ended (its settings
        // file free again) this start goes on as the first instance.
        qCInfo(KavrelDiagnostics::app()) << "the running copy is quitting; waiting for it to end";
        waitForProcessEnd(handover.processId, quitWaitLimit);
    }
    qCWarning(KavrelDiagnostics::app()) << "the copy on its way out did not end in time";
    return StartResult::failed;
}

KavrelSingleInstance::Handover KavrelSingleInstance::forward(const QString &socketPath, const QList<QUrl> &urls,
                                                             std::chrono::milliseconds timeout)
{
    Handover handover;
    const QByteArray request = encodeRequest(urls);
    if (request.size() > maximumRequestBytes) {
        qCWarning(KavrelDiagnostics::app()) << "request for the running instance is over the length limit";
        return handover;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    const QDeadlineTimer deadline(timeout);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return handover;
    if (const std::optional<ucred> credentials = peerCredentials(socket))
        handover.processId = credentials->pid;
    socket.write(request);
    // A program that ended meanwhile reads nothing more; what it answered before is still here.
    socket.waitForBytesWritten(int(deadline.remainingTime()));
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired())
        socket.waitForReadyRead(int(deadline.remainingTime()));
    if (socket.canReadLine()) {
        const QByteArray answer = socket.readLine().trimmed();
        handover.outcome = answer == quittingAnswer ? Handover::Outcome::declined : Handover::Outcome::delivered;
    } else {
        // Still connected: the program's event loop does not run (it hangs, or its process is
        // stopped), and nobody can tell whether it ever will. Gone without a word: it ended
        // before it read the request.
        handover.outcome = socket.state() == QLocalSocket::ConnectedState ? Handover::Outcome::unanswered
                                                                          : Handover::Outcome::declined;
    }
    return handover;
}

bool KavrelSingleInstance::waitForProcessEnd(qint64 processId, std::chrono::milliseconds limit)
{
    if (processId <= 0)
        return false;
    const auto pid = static_cast<pid_t>(processId);
    const QDeadlineTimer deadline(limit);
#ifdef SYS_pidfd_open
    // A process descriptor turns readable when the process ends, reaped by its parent or not.
    const auto descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (descriptor >= 0) {
        pollfd entry{descriptor, POLLIN, 0};
        int ready = 0;
        do {
            ready = ::poll(&entry, 1, int(deadline.remainingTime()));
        } while (ready < 0 && errno == EINTR);
        ::close(descriptor);
        return ready > 0;
    }
    if (errno == ESRCH)
        return true;
#endif
    // Without process descriptors (an older kernel) it is asked now and then.
    while (::kill(pid, 0) == 0 || errno == EPERM) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

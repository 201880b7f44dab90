#pragma once

// The backend's speech-to-text relay on the fake backend: checks each upgrade (query items
// and their order, the auth headers once each), records every frame the client sends with
// its arrival time, and plays the service's side from a script: Results (interim, final,
// speech-final, with or without utterances), Metadata, UtteranceEnd, SpeechStarted, Error,
// malformed text and binary frames. It can also refuse the upgrade with 401, never answer
// it, drop or close the socket, and stop reading so that the client's writes back up.

#include "support/FakeBackend.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QTcpSocket;

class FakeSpeechRelay final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *path = "/api/stt/deepgram/live";

    enum class Upgrade {
        accept,
        reject401,
        neverAnswer,
    };

    struct Frame
    {
        bool binary = false;
        QByteArray data;
        qint64 atMs = 0; // since the relay was created
    };

    explicit FakeSpeechRelay(FakeBackend *backend, QObject *parent = nullptr);

    // How the next upgrades are answered, in turn; the last one repeats. Default: accept.
    void setUpgrades(QList<Upgrade> upgrades);

    // What every upgrade must carry. Violations are collected in problems().
    void expect(const QString &language, bool diarize, bool utterances, const QByteArray &accessToken,
                const QByteArray &refreshToken, const QByteArray &origin);
    QStringList problems() const { return m_problems; }
    // The query the client must send, exactly.
    static QByteArray expectedQuery(const QString &language, bool diarize, bool utterances);

    // Script: runs for every accepted connection, and for every text frame of the client.
    std::function<void(FakeWebSocketSession *)> onOpen;
    std::function<void(FakeWebSocketSession *, const QByteArray &)> onText;
    // Frames sent in answer to the client's Finalize.
    QList<QByteArray> answerToFinalize;

    int upgradeCount() const;
    QList<FakeWebSocketSession *> sessions() const;
    FakeWebSocketSession *session(int index) const;
    // Frames the client sent on a connection, in order.
    QList<Frame> frames(int index) const;
    QList<QByteArray> audioFrames(int index) const;
    QList<QByteArray> controlFrames(int index) const;
    qint64 openedAtMs(int index) const;
    // Forgets the frames received so far on every connection (a long run keeps only what it
    // checks).
    void clearFrames();
    qint64 nowMs() const { return m_clock.elapsed(); }

    // Stops reading the connection: the client's bytes pile up in the kernel buffers and
    // then in the client. Returns false when the socket could not be reached.
    bool stallReading(FakeWebSocketSession *session) const;
    void resumeReading(FakeWebSocketSession *session) const;

    // Frames of the service.
    static QByteArray results(const QString &transcript, bool isFinal, bool speechFinal);
    // Any alternatives (absent entries have no "transcript" key) and optional utterances.
    static QByteArray resultsWith(const QList<std::optional<QString>> &alternatives,
                                  const std::optional<QList<std::optional<QString>>> &utterances, bool isFinal,
                                  bool speechFinal);
    static QByteArray metadata();
    static QByteArray utteranceEnd();
    static QByteArray speechStarted();
    static QByteArray error(const std::optional<QString> &message, const std::optional<QString> &description);
    static QByteArray malformed();

private:
    void installRoute();
    void onUpgrade(const RecordedRequest &request);
    void onConnected(FakeWebSocketSession *session);
    QStringList check(const RecordedRequest &request) const;

    FakeBackend *m_backend;
    QElapsedTimer m_clock;
    QList<Upgrade> m_upgrades{Upgrade::accept};
    int m_upgradeIndex = 0;
    QStringList m_problems;

    struct Expectation
    {
        QByteArray query;
        QByteArray authorization;
        QByteArray cookie;
        QByteArray origin;
    };
    std::optional<Expectation> m_expectation;

    struct Connection
    {
        QPointer<FakeWebSocketSession> session;
        qint64 openedAtMs = 0;
        QList<Frame> frames;
    };
    QList<Connection> m_connections;
};

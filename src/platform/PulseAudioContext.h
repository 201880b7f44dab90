#pragma once

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct pa_context;
struct pa_operation;
struct pa_threaded_mainloop;
struct pa_sink_info;
struct pa_source_info;
struct pa_sink_input_info;
struct pa_server_info;
struct pa_time_event;

// The program's one connection to the PulseAudio server (or PipeWire's pulse server).
//
// It runs PulseAudio's threaded main loop and keeps a cache of the server's defaults, sinks,
// sources and sink inputs, kept current by subscription, so that device lists can be read
// at any time without a round trip. Reading the cache is thread-safe. Its signals are
// emitted on the thread the object lives on (the main thread), through queued invocation.
//
// Record streams (PulseAudioRecordStream) are made on this connection; their callbacks run
// on the main-loop thread.
//
// A connection lost with the server is made again on the next ready() or reconnectIfFailed(),
// and by itself, with growing pauses, once a connection has been ready: a restarted server
// is found again without anyone asking. While there is no connection the cache is empty.
// An attempt that is still not ready after the connect time-out fails: a server that takes
// the socket but never finishes the handshake (a wedged pulseaudio or pipewire-pulse) must
// not keep capture start waiting with nothing to show.
//
// An outage is told once: a warning when the server is lost or does not answer, a line when it
// is back. The attempts in between say so at debug level only (an hour of a wedged server
// would otherwise fill the log with a line every few seconds).
class PulseAudioContext final : public QObject
{
    Q_OBJECT

public:
    enum class State { Connecting, Ready, Failed };

    struct SampleSpec
    {
        int format = 0; // pa_sample_format_t
        quint32 rate = 0;
        quint8 channels = 0;
        bool operator==(const SampleSpec &) const = default;
    };

    struct ServerInfo
    {
        QString serverName;
        QString serverVersion;
        QString defaultSinkName;
        QString defaultSourceName;
    };

    struct Sink
    {
        quint32 index = 0;
        QString name;
        QString description;
        QString monitorSourceName;
        SampleSpec sampleSpec;
        std::vector<int> channelMap; // pa_channel_position_t per channel
    };

    struct Source
    {
        quint32 index = 0;
        QString name;
        QString description;
        // The monitor of a sink (what the sink plays), not an input device.
        bool isMonitor = false;
        SampleSpec sampleSpec;
        std::vector<int> channelMap;
    };

    // A stream that plays into a sink. Uncorked means it is playing (or ready to).
    struct SinkInput
    {
        quint32 index = 0;
        quint32 sinkIndex = 0;
        bool corked = false;
        std::optional<qint64> processId; // application.process.id
        QString applicationName;         // application.name
        QString processBinary;           // application.process.binary
    };

    // Answers of direct queries: the value, or the server's error number.
    template<typename T>
    struct Reply
    {
        std::optional<T> value;
        int error = 0;
    };

    using Clock = std::chrono::steady_clock;
    using ArrivalClock = std::function<Clock::time_point()>;

    struct Timings
    {
        // How long an attempt may take to become ready.
        std::chrono::milliseconds connectTimeout{10000};
        // Pauses between the attempts to find a lost server again: the first, and the longest.
        std::chrono::milliseconds firstReconnectPause{250};
        std::chrono::milliseconds longestReconnectPause{2000};
    };

    // The process-wide connection, made on first use. Call it first on the main thread.
    static std::shared_ptr<PulseAudioContext> shared();

    // Starts connecting at once. The server is the one libpulse finds at each attempt
    // (PULSE_SERVER, the user's runtime socket); no server is ever spawned.
    explicit PulseAudioContext(QObject *parent = nullptr);
    PulseAudioContext(QObject *parent, Timings timings);
    ~PulseAudioContext() override;

    State state() const;
    // The server's error number of the last failure (0 when none).
    int lastError() const;

    // Waits until the connection is ready and the cache is filled; true when it is.
    // Reconnects first when the connection has failed.
    QCoro::Task<bool> ready();
    // Starts a new connection when the last one failed, and returns at once; devicesChanged()
    // follows when the cache is filled. For readers of the cache that cannot await.
    void reconnectIfFailed();

    ServerInfo serverInfo() const;
    std::vector<Sink> sinks() const;
    std::vector<Source> sources() const;
    std::vector<SinkInput> sinkInputs() const;
    std::optional<Sink> sinkNamed(const QString &name) const;
    std::optional<Source> sourceNamed(const QString &name) const;
    // The sources, once the server's first listing has come in whole; nothing while there is
    // no connection or the listing is still arriving (a part of it says nothing of what is gone).
    std::optional<std::vector<Source>> listedSources() const;

    // Fresh answers straight from the server, for decisions that must not rest on the cache.
    QCoro::Task<Reply<ServerInfo>> queryServerInfo();
    QCoro::Task<Reply<Sink>> querySink(QString name);
    QCoro::Task<Reply<Source>> querySource(QString name);

    // Holds the main-loop lock. Every call into libpulse outside the main-loop thread's own
    // callbacks must hold it.
    class Lock
    {
    public:
        explicit Lock(const PulseAudioContext &context);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *m_mainloop;
    };

    // What the record streams on this connection read as the time their audio reached this
    // process: the steady clock, unless a test puts its own in place (one that jumps ahead as
    // the clock does for a process that stood still for minutes). Not from the main-loop thread.
    void setArrivalClock(ArrivalClock clock);
    // For stream owners, under Lock.
    Clock::time_point arrivalTime() const { return m_arrivalClock ? m_arrivalClock() : Clock::now(); }

    // For stream owners, under Lock: the current server connection (null when none).
    pa_context *paContext() const { return m_context; }
    pa_threaded_mainloop *mainloop() const { return m_mainloop; }
    bool isMainLoopThread() const;

    // A request waiting for the server's answer (internal), whose answer comes back on the main-loop thread. When the connection is lost
    // libpulse drops pending operations without calling them back, so every request is
    // registered and failed by hand then; otherwise its awaiting coroutine would never resume.
    struct Pending
    {
        virtual ~Pending() = default;
        virtual void fail(int error) = 0;
    };

Q_SIGNALS:
    void stateChanged(PulseAudioContext::State state);
    void defaultSinkChanged(const QString &sinkName);
    void defaultSourceChanged(const QString &sourceName);
    // Sinks or sources came, went or changed (the cache was filled or emptied too).
    void devicesChanged();
    void sinkInputsChanged();

private:
    void registerQuery(const std::shared_ptr<Pending> &request);
    void forgetQuery(Pending *request);
    void failPendingQueries(int error);
    template<typename T>
    QCoro::Task<Reply<T>> runQuery(std::function<pa_operation *(pa_context *, void *)> issue);

    void connectToServer();           // under the lock
    void dropConnection();            // under the lock
    void stopConnectTimer();          // under the lock
    void connectTimedOut(pa_time_event *timer); // on the main-loop thread
    void setState(State state, int error); // on the main-loop thread, under the lock
    void startSync();                 // on the main-loop thread
    void finishSyncStep();            // on the main-loop thread
    void issueSyncStep(pa_operation *operation); // on the main-loop thread
    // One entry of a start-up list read: stored, or at the end of the list, the step done.
    template<typename Info, void (PulseAudioContext::*store)(const Info *)>
    static void syncListEntry(pa_context *context, const Info *info, int eol, void *userdata);
    void requestServerInfo();
    void storeServerInfo(const pa_server_info *info);
    void storeSink(const pa_sink_info *info);
    void storeSource(const pa_source_info *info);
    void storeSinkInput(const pa_sink_input_info *info);
    void notify(void (PulseAudioContext::*signal)());
    void scheduleReconnect(); // on the main thread

    static void contextStateCallback(pa_context *context, void *userdata);
    static void subscriptionCallback(pa_context *context, int eventType, quint32 index, void *userdata);

    const Timings m_timings;
    pa_threaded_mainloop *m_mainloop = nullptr;
    pa_context *m_context = nullptr; // written under the lock
    pa_time_event *m_connectTimer = nullptr; // under the lock; set while an attempt runs
    ArrivalClock m_arrivalClock; // under the lock

    mutable std::mutex m_cacheMutex;
    State m_state = State::Connecting;
    int m_lastError = 0;
    int m_syncStepsLeft = 0;
    bool m_synced = false;
    ServerInfo m_serverInfo;
    std::map<quint32, Sink> m_sinks;
    std::map<quint32, Source> m_sources;
    std::map<quint32, SinkInput> m_sinkInputs;
    // Set at the first ready connection: from then on a lost one is sought again by itself.
    bool m_reconnectsByItself = false;
    // The outage was reported; further failed attempts to find the server are not.
    bool m_outageReported = false;
    std::chrono::milliseconds m_reconnectPause;
    // Main thread only.
    bool m_reconnectScheduled = false;
    std::vector<std::shared_ptr<Pending>> m_readyWaiters;
    std::vector<std::shared_ptr<Pending>> m_pendingQueries;
};

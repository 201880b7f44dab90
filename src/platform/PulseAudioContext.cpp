#include "platform/PulseAudioContext.h"

#include "base/KavrelDiagnostics.h"
#include "platform/ApplicationInfo.h"

#include <QCoreApplication>
#include <QFuture>
#include <QPromise>

#include <qcoro/qcorofuture.h>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <utility>

namespace {

template<typename T>
struct QueryRequest final : PulseAudioContext::Pending
{
    QPromise<PulseAudioContext::Reply<T>> promise;
    PulseAudioContext::Reply<T> reply;
    // Takes the request off the registry, which destroys it.
    std::function<void()> forget;
    bool done = false;

    // The answer is complete: hand it over and let go of the request.
    void finish()
    {
        complete();
        std::function<void()> forgetThis = std::move(forget);
        forgetThis();
    }

    void complete()
    {
        if (done)
            return;
        done = true;
        promise.addResult(reply);
        promise.finish();
    }
    void fail(int error) override
    {
        reply.value.reset();
        reply.error = error;
        complete();
    }
};

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

PulseAudioContext::SampleSpec sampleSpecOf(const pa_sample_spec &sampleSpec)
{
    return PulseAudioContext::SampleSpec{int(sampleSpec.format), sampleSpec.rate, sampleSpec.channels};
}

std::vector<int> channelMapOf(const pa_channel_map &map)
{
    std::vector<int> positions;
    for (int i = 0; i < map.channels; ++i)
        positions.push_back(int(map.map[i]));
    return positions;
}

PulseAudioContext::Sink sinkOf(const pa_sink_info *info)
{
    PulseAudioContext::Sink sink;
    sink.index = info->index;
    sink.name = fromUtf8(info->name);
    sink.description = fromUtf8(info->description);
    sink.monitorSourceName = fromUtf8(info->monitor_source_name);
    sink.sampleSpec = sampleSpecOf(info->sample_spec);
    sink.channelMap = channelMapOf(info->channel_map);
    return sink;
}

PulseAudioContext::Source sourceOf(const pa_source_info *info)
{
    PulseAudioContext::Source source;
    source.index = info->index;
    source.name = fromUtf8(info->name);
    source.description = fromUtf8(info->description);
    const char *deviceClass = info->proplist ? pa_proplist_gets(info->proplist, PA_PROP_DEVICE_CLASS) : nullptr;
    source.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX
        || (deviceClass && qstrcmp(deviceClass, "monitor") == 0);
    source.sampleSpec = sampleSpecOf(info->sample_spec);
    source.channelMap = channelMapOf(info->channel_map);
    return source;
}

PulseAudioContext::ServerInfo serverInfoOf(const pa_server_info *info)
{
    PulseAudioContext::ServerInfo server;
    server.serverName = fromUtf8(info->server_name);
    server.serverVersion = fromUtf8(info->server_version);
    server.defaultSinkName = fromUtf8(info->default_sink_name);
    server.defaultSourceName = fromUtf8(info->default_source_name);
    return server;
}

std::mutex sharedMutex;
std::shared_ptr<PulseAudioContext> sharedInstance;

} // namespace

std::shared_ptr<PulseAudioContext> PulseAudioContext::shared()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedInstance) {
        sharedInstance = std::make_shared<PulseAudioContext>();
        if (QCoreApplication::instance()) {
            qAddPostRoutine([] {
                std::lock_guard lock(sharedMutex);
                sharedInstance.reset();
            });
        }
    }
    return sharedInstance;
}

PulseAudioContext::PulseAudioContext(QObject *parent)
    : PulseAudioContext(parent, Timings())
{
}

PulseAudioContext::PulseAudioContext(QObject *parent, Timings timings)
    : QObject(parent)
    , m_timings(timings)
    , m_reconnectPause(timings.firstReconnectPause)
{
    if (!parent && QCoreApplication::instance())
        moveToThread(QCoreApplication::instance()->thread());
    m_mainloop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_set_name(m_mainloop, "kavrel-pulse");
    pa_threaded_mainloop_start(m_mainloop);
    Lock lock(*this);
    connectToServer();
}

PulseAudioContext::~PulseAudioContext()
{
    {
        Lock lock(*this);
        dropConnection();
        failPendingQueries(PA_ERR_CONNECTIONTERMINATED);
        std::lock_guard cache(m_cacheMutex);
        for (auto &waiter : m_readyWaiters)
            waiter->fail(PA_ERR_CONNECTIONTERMINATED);
        m_readyWaiters.clear();
        m_state = State::Failed;
    }
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
}

PulseAudioContext::Lock::Lock(const PulseAudioContext &context)
    : m_mainloop(context.m_mainloop)
{
    pa_threaded_mainloop_lock(m_mainloop);
}

PulseAudioContext::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(m_mainloop);
}

void PulseAudioContext::setArrivalClock(ArrivalClock clock)
{
    Lock lock(*this);
    m_arrivalClock = std::move(clock);
}

bool PulseAudioContext::isMainLoopThread() const
{
    return pa_threaded_mainloop_in_thread(m_mainloop);
}

PulseAudioContext::State PulseAudioContext::state() const
{
    std::lock_guard lock(m_cacheMutex);
    return m_state;
}

int PulseAudioContext::lastError() const
{
    std::lock_guard lock(m_cacheMutex);
    return m_lastError;
}

// The first full read of the server: defaults, sinks, sources and sink inputs. The
// connection counts as ready once all four have answered.
void PulseAudioContext::startSync()
{
    {
        std::lock_guard cache(m_cacheMutex);
        m_syncStepsLeft = 4;
    }
    pa_context *context = m_context;

    issueSyncStep(pa_context_get_server_info(
        context,
        [](pa_context *, const pa_server_info *info, void *userdata) {
            auto *self = static_cast<PulseAudioContext *>(userdata);
            if (info)
                self->storeServerInfo(info);
            self->finishSyncStep();
        },
        this));
    issueSyncStep(pa_context_get_sink_info_list(
        context, &PulseAudioContext::syncListEntry<pa_sink_info, &PulseAudioContext::storeSink>, this));
    issueSyncStep(pa_context_get_source_info_list(
        context, &PulseAudioContext::syncListEntry<pa_source_info, &PulseAudioContext::storeSource>, this));
    issueSyncStep(pa_context_get_sink_input_info_list(
        context, &PulseAudioContext::syncListEntry<pa_sink_input_info, &PulseAudioContext::storeSinkInput>, this));
}

template<typename Info, void (PulseAudioContext::*store)(const Info *)>
void PulseAudioContext::syncListEntry(pa_context *, const Info *info, int eol, void *userdata)
{
    auto *self = static_cast<PulseAudioContext *>(userdata);
    if (eol == 0 && info)
        (self->*store)(info);
    else
        self->finishSyncStep();
}

// A request the server never got cannot answer: its step is done at once.
void PulseAudioContext::issueSyncStep(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
    else
        finishSyncStep();
}

void PulseAudioContext::finishSyncStep()
{
    ServerInfo server;
    {
        std::lock_guard cache(m_cacheMutex);
        if (m_synced || m_syncStepsLeft <= 0)
            return;
        if (--m_syncStepsLeft > 0)
            return;
        m_synced = true;
        server = m_serverInfo;
    }
    setState(State::Ready, 0);
    QMetaObject::invokeMethod(
        this,
        [this, server] {
            Q_EMIT defaultSinkChanged(server.defaultSinkName);
            Q_EMIT defaultSourceChanged(server.defaultSourceName);
            Q_EMIT devicesChanged();
            Q_EMIT sinkInputsChanged();
        },
        Qt::QueuedConnection);
}

void PulseAudioContext::requestServerInfo()
{
    pa_operation *operation = pa_context_get_server_info(
        m_context,
        [](pa_context *, const pa_server_info *info, void *userdata) {
            if (info)
                static_cast<PulseAudioContext *>(userdata)->storeServerInfo(info);
        },
        this);
    if (operation)
        pa_operation_unref(operation);
}

void PulseAudioContext::storeServerInfo(const pa_server_info *info)
{
    const ServerInfo server = serverInfoOf(info);
    bool sinkChanged = false;
    bool sourceChanged = false;
    bool synced = false;
    {
        std::lock_guard cache(m_cacheMutex);
        sinkChanged = server.defaultSinkName != m_serverInfo.defaultSinkName;
        sourceChanged = server.defaultSourceName != m_serverInfo.defaultSourceName;
        m_serverInfo = server;
        synced = m_synced;
    }
    if (!synced)
        return;
    if (sinkChanged) {
        QMetaObject::invokeMethod(
            this, [this, name = server.defaultSinkName] { Q_EMIT defaultSinkChanged(name); }, Qt::QueuedConnection);
    }
    if (sourceChanged) {
        QMetaObject::invokeMethod(
            this, [this, name = server.defaultSourceName] { Q_EMIT defaultSourceChanged(name); },
            Qt::QueuedConnection);
    }
}

void PulseAudioContext::storeSink(const pa_sink_info *info)
{
    bool synced = false;
    {
        std::lock_guard cache(m_cacheMutex);
        m_sinks[info->index] = sinkOf(info);
        synced = m_synced;
    }
    if (synced)
        notify(&PulseAudioContext::devicesChanged);
}

void PulseAudioContext::storeSource(const pa_source_info *info)
{
    bool synced = false;
    {
        std::lock_guard cache(m_cacheMutex);
        m_sources[info->index] = sourceOf(info);
        synced = m_synced;
    }
    if (synced)
        notify(&PulseAudioContext::devicesChanged);
}

void PulseAudioContext::storeSinkInput(const pa_sink_input_info *info)
{
    SinkInput input;
    input.index = info->index;
    input.sinkIndex = info->sink;
    input.corked = info->corked != 0;
    if (info->proplist) {
        bool ok = false;
        const qint64 pid = fromUtf8(pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID)).toLongLong(&ok);
        if (ok)
            input.processId = pid;
        input.applicationName = fromUtf8(pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_NAME));
        input.processBinary = fromUtf8(pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY));
    }
    bool synced = false;
    {
        std::lock_guard cache(m_cacheMutex);
        m_sinkInputs[info->index] = input;
        synced = m_synced;
    }
    if (synced)
        notify(&PulseAudioContext::sinkInputsChanged);
}

void PulseAudioContext::notify(void (PulseAudioContext::*signal)())
{
    QMetaObject::invokeMethod(this, [this, signal] { (this->*signal)(); }, Qt::QueuedConnection);
}

void PulseAudioContext::subscriptionCallback(pa_context *context, int eventType, quint32 index, void *userdata)
{
    auto *self = static_cast<PulseAudioContext *>(userdata);
    if (context != self->m_context)
        return;
    const int facility = eventType & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const int kind = eventType & PA_SUBSCRIPTION_EVENT_TYPE_MASK;

    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        self->requestServerInfo();
        return;
    }

    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        bool removed = false;
        {
            std::lock_guard cache(self->m_cacheMutex);
            if (facility == PA_SUBSCRIPTION_EVENT_SINK)
                removed = self->m_sinks.erase(index) > 0;
            else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE)
                removed = self->m_sources.erase(index) > 0;
            else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT)
                removed = self->m_sinkInputs.erase(index) > 0;
            removed = removed && self->m_synced;
        }
        if (removed) {
            self->notify(facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT ? &PulseAudioContext::sinkInputsChanged
                                                                       : &PulseAudioContext::devicesChanged);
        }
        return;
    }

    pa_operation *operation = nullptr;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        operation = pa_context_get_sink_info_by_index(
            context, index,
            [](pa_context *, const pa_sink_info *info, int eol, void *userdata) {
                if (eol == 0 && info)
                    static_cast<PulseAudioContext *>(userdata)->storeSink(info);
            },
            self);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
        operation = pa_context_get_source_info_by_index(
            context, index,
            [](pa_context *, const pa_source_info *info, int eol, void *userdata) {
                if (eol == 0 && info)
                    static_cast<PulseAudioContext *>(userdata)->storeSource(info);
            },
            self);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        operation = pa_context_get_sink_input_info(
            context, index,
            [](pa_context *, const pa_sink_input_info *info, int eol, void *userdata) {
                if (eol == 0 && info)
                    static_cast<PulseAudioContext *>(userdata)->storeSinkInput(info);
            },
            self);
    }
    if (operation)
        pa_operation_unref(operation);
}

PulseAudioContext::ServerInfo PulseAudioContext::serverInfo() const
{
    std::lock_guard lock(m_cacheMutex);
    return m_serverInfo;
}

std::vector<PulseAudioContext::Sink> PulseAudioContext::sinks() const
{
    std::lock_guard lock(m_cacheMutex);
    std::vector<Sink> result;
    for (const auto &entry : m_sinks)
        result.push_back(entry.second);
    return result;
}

std::vector<PulseAudioContext::Source> PulseAudioContext::sources() const
{
    std::lock_guard lock(m_cacheMutex);
    std::vector<Source> result;
    for (const auto &entry : m_sources)
        result.push_back(entry.second);
    return result;
}

std::vector<PulseAudioContext::SinkInput> PulseAudioContext::sinkInputs() const
{
    std::lock_guard lock(m_cacheMutex);
    std::vector<SinkInput> result;
    for (const auto &entry : m_sinkInputs)
        result.push_back(entry.second);
    return result;
}

std::optional<std::vector<PulseAudioContext::Source>> PulseAudioContext::listedSources() const
{
    std::lock_guard lock(m_cacheMutex);
    if (m_state != State::Ready)
        return std::nullopt;
    std::vector<Source> result;
    for (const auto &entry : m_sources)
        result.push_back(entry.second);
    return result;
}

std::optional<PulseAudioContext::Sink> PulseAudioContext::sinkNamed(const QString &name) const
{
    std::lock_guard lock(m_cacheMutex);
    for (const auto &entry : m_sinks) {
        if (entry.second.name == name)
            return entry.second;
    }
    return std::nullopt;
}

std::optional<PulseAudioContext::Source> PulseAudioContext::sourceNamed(const QString &name) const
{
    std::lock_guard lock(m_cacheMutex);
    for (const auto &entry : m_sources) {
        if (entry.second.name == name)
            return entry.second;
    }
    return std::nullopt;
}

void PulseAudioContext::registerQuery(const std::shared_ptr<Pending> &request)
{
    std::lock_guard cache(m_cacheMutex);
    m_pendingQueries.push_back(request);
}

void PulseAudioContext::forgetQuery(Pending *request)
{
    std::shared_ptr<Pending> keep;
    {
        std::lock_guard cache(m_cacheMutex);
        auto found = std::find_if(m_pendingQueries.begin(), m_pendingQueries.end(),
                                  [request](const std::shared_ptr<Pending> &entry) { return entry.get() == request; });
        if (found == m_pendingQueries.end())
            return;
        keep = std::move(*found);
        m_pendingQueries.erase(found);
    }
}

void PulseAudioContext::failPendingQueries(int error)
{
    std::vector<std::shared_ptr<Pending>> pending;
    {
        std::lock_guard cache(m_cacheMutex);
        pending = std::move(m_pendingQueries);
        m_pendingQueries.clear();
    }
    for (auto &request : pending)
        request->fail(error);
}

template<typename T>
QCoro::Task<PulseAudioContext::Reply<T>> PulseAudioContext::runQuery(std::function<pa_operation *(pa_context *, void *)> issue)
{
    Reply<T> failed;
    const bool isReady = co_await ready();
    if (!isReady) {
        failed.error = lastError() ? lastError() : PA_ERR_CONNECTIONREFUSED;
        co_return failed;
    }
    auto request = std::make_shared<QueryRequest<T>>();
    request->promise.start();
    QueryRequest<T> *pointer = request.get();
    request->forget = [this, pointer] { forgetQuery(pointer); };
    QFuture<Reply<T>> future = request->promise.future();
    {
        Lock lock(*this);
        registerQuery(request);
        pa_operation *operation = m_context ? issue(m_context, pointer) : nullptr;
        if (operation) {
            pa_operation_unref(operation);
        } else {
            request->fail(m_context ? pa_context_errno(m_context) : PA_ERR_CONNECTIONTERMINATED);
            forgetQuery(pointer);
        }
    }
    const Reply<T> reply = co_await future;
    co_return reply;
}

namespace {

// Answers of single-object queries: the object once, then the end of the list (or an error).
template<typename T, typename Info, T (*convert)(const Info *)>
void objectAnswered(pa_context *context, const Info *info, int eol, void *userdata)
{
    auto *request = static_cast<QueryRequest<T> *>(userdata);
    if (eol == 0 && info) {
        request->reply.value = convert(info);
        return;
    }
    if (eol < 0)
        request->reply.error = pa_context_errno(context);
    request->finish();
}

} // namespace

QCoro::Task<PulseAudioContext::Reply<PulseAudioContext::ServerInfo>> PulseAudioContext::queryServerInfo()
{
    std::function<pa_operation *(pa_context *, void *)> issue = [](pa_context *context, void *userdata) {
        return pa_context_get_server_info(
            context,
            [](pa_context *, const pa_server_info *info, void *userdata) {
                auto *request = static_cast<QueryRequest<ServerInfo> *>(userdata);
                if (info)
                    request->reply.value = serverInfoOf(info);
                else
                    request->reply.error = PA_ERR_NOENTITY;
                request->finish();
            },
            userdata);
    };
    const Reply<ServerInfo> reply = co_await runQuery<ServerInfo>(std::move(issue));
    co_return reply;
}

QCoro::Task<PulseAudioContext::Reply<PulseAudioContext::Sink>> PulseAudioContext::querySink(QString name)
{
    const QByteArray utf8Name = name.toUtf8();
    std::function<pa_operation *(pa_context *, void *)> issue = [utf8Name](pa_context *context, void *userdata) {
        return pa_context_get_sink_info_by_name(context, utf8Name.constData(),
                                                &objectAnswered<Sink, pa_sink_info, sinkOf>, userdata);
    };
    const Reply<Sink> reply = co_await runQuery<Sink>(std::move(issue));
    co_return reply;
}

QCoro::Task<PulseAudioContext::Reply<PulseAudioContext::Source>> PulseAudioContext::querySource(QString name)
{
    const QByteArray utf8Name = name.toUtf8();
    std::function<pa_operation *(pa_context *, void *)> issue = [utf8Name](pa_context *context, void *userdata) {
        return pa_context_get_source_info_by_name(context, utf8Name.constData(),
                                                  &objectAnswered<Source, pa_source_info, sourceOf>, userdata);
    };
    const Reply<Source> reply = co_await runQuery<Source>(std::move(issue));
    co_return reply;
}

#include "platform/PulseAudioContext.h"

#include "base/KavrelDiagnostics.h"
#include "platform/ApplicationInfo.h"

#include <QFuture>
#include <QPromise>
#include <QTimer>

#include <qcoro/qcorofuture.h>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <utility>

// The connection to the audio server: connecting with a time-out, the state it is in, and
// seeking the server again with growing pauses after it went away, telling of each outage once.

namespace {

struct ReadyWaiter final : PulseAudioContext::Pending
{
    QPromise<bool> promise;
    bool done = false;

    void complete(bool value)
    {
        if (done)
            return;
        done = true;
        promise.addResult(value);
        promise.finish();
    }
    void fail(int) override { complete(false); }
};

} // namespace

void PulseAudioContext::dropConnection()
{
    stopConnectTimer();
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
}

void PulseAudioContext::stopConnectTimer()
{
    if (!m_connectTimer)
        return;
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(m_mainloop);
    api->time_free(m_connectTimer);
    m_connectTimer = nullptr;
}

void PulseAudioContext::connectTimedOut(pa_time_event *timer)
{
    if (timer != m_connectTimer)
        return;
    stopConnectTimer();
    bool firstOfOutage = false;
    {
        std::lock_guard cache(m_cacheMutex);
        if (m_state != State::Connecting)
            return;
        firstOfOutage = !std::exchange(m_outageReported, true);
    }
    if (firstOfOutage)
        qCWarning(KavrelDiagnostics::audio()).noquote()
            << "audio server did not complete the connection within" << m_timings.connectTimeout.count() << "ms";
    else
        qCDebug(KavrelDiagnostics::audio()).noquote()
            << "audio server still did not complete the connection within" << m_timings.connectTimeout.count() << "ms";
    // The state callback is taken off first, so the disconnect does not report a second failure.
    dropConnection();
    setState(State::Failed, PA_ERR_TIMEOUT);
}

void PulseAudioContext::connectToServer()
{
    failPendingQueries(PA_ERR_CONNECTIONTERMINATED);
    dropConnection();
    {
        std::lock_guard cache(m_cacheMutex);
        m_state = State::Connecting;
        m_synced = false;
        m_syncStepsLeft = 0;
        m_serverInfo = ServerInfo();
        m_sinks.clear();
        m_sources.clear();
        m_sinkInputs.clear();
    }

    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, ApplicationInfo::displayName().toUtf8().constData());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, ApplicationInfo::bundleIdentifier().toUtf8().constData());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_VERSION, ApplicationInfo::shortVersion().toUtf8().constData());
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_mainloop), nullptr, properties);
    pa_proplist_free(properties);
    if (!m_context) {
        setState(State::Failed, PA_ERR_INTERNAL);
        return;
    }
    pa_context_set_state_callback(m_context, &PulseAudioContext::contextStateCallback, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        setState(State::Failed, pa_context_errno(m_context));
        return;
    }
    // Runs on the main-loop thread, which holds the lock while it dispatches.
    const auto timedOut = [](pa_mainloop_api *, pa_time_event *timer, const struct timeval *, void *userdata) {
        static_cast<PulseAudioContext *>(userdata)->connectTimedOut(timer);
    };
    const pa_usec_t timeout = pa_usec_t(std::max<qint64>(m_timings.connectTimeout.count(), 0)) * PA_USEC_PER_MSEC;
    m_connectTimer = pa_context_rttime_new(m_context, pa_rtclock_now() + timeout, timedOut, this);
}

void PulseAudioContext::setState(State state, int error)
{
    std::vector<std::shared_ptr<Pending>> waiters;
    bool changed = false;
    bool devicesWereKnown = false;
    bool reconnects = false;
    bool reportLoss = false;
    bool reportBack = false;
    {
        std::lock_guard cache(m_cacheMutex);
        changed = m_state != state;
        m_state = state;
        if (state == State::Ready) {
            m_reconnectsByItself = true;
            reportBack = std::exchange(m_outageReported, false);
            m_reconnectPause = m_timings.firstReconnectPause;
        }
        if (state == State::Failed) {
            m_lastError = error;
            m_synced = false;
            reconnects = m_reconnectsByItself;
            reportLoss = changed && !std::exchange(m_outageReported, true);
        }
        if (state != State::Connecting)
            waiters = std::move(m_readyWaiters);
        m_readyWaiters.clear();
        // What the cache held describes a server that is gone.
        if (state == State::Failed) {
            devicesWereKnown = !m_sinks.empty() || !m_sources.empty();
            m_serverInfo = ServerInfo();
            m_sinks.clear();
            m_sources.clear();
            m_sinkInputs.clear();
        }
    }
    if (state != State::Connecting)
        stopConnectTimer();
    if (devicesWereKnown)
        notify(&PulseAudioContext::devicesChanged);
    for (auto &waiter : waiters) {
        if (state == State::Ready)
            static_cast<ReadyWaiter &>(*waiter).complete(true);
        else
            waiter->fail(error);
    }
    if (state == State::Failed)
        failPendingQueries(error);
    if (changed) {
        if (reportLoss)
            qCWarning(KavrelDiagnostics::audio()).noquote()
                << "audio server connection failed:" << QString::fromUtf8(pa_strerror(error));
        else if (state == State::Failed)
            qCDebug(KavrelDiagnostics::audio()).noquote()
                << "audio server still away:" << QString::fromUtf8(pa_strerror(error));
        else if (reportBack)
            qCInfo(KavrelDiagnostics::audio()).noquote() << "audio server connection is back";
        QMetaObject::invokeMethod(this, [this, state] { Q_EMIT stateChanged(state); }, Qt::QueuedConnection);
    }
    if (reconnects)
        QMetaObject::invokeMethod(this, [this] { scheduleReconnect(); }, Qt::QueuedConnection);
}

// Menus and the device list follow the cache; nobody else may be about to ask for the server
// (no capture runs), so the connection seeks it again by itself.
void PulseAudioContext::scheduleReconnect()
{
    if (m_reconnectScheduled)
        return;
    std::chrono::milliseconds pause;
    {
        std::lock_guard cache(m_cacheMutex);
        if (m_state != State::Failed)
            return;
        pause = m_reconnectPause;
        m_reconnectPause = std::min(m_reconnectPause * 2, m_timings.longestReconnectPause);
    }
    m_reconnectScheduled = true;
    QTimer::singleShot(pause, this, [this] {
        m_reconnectScheduled = false;
        reconnectIfFailed();
    });
}

void PulseAudioContext::contextStateCallback(pa_context *context, void *userdata)
{
    auto *self = static_cast<PulseAudioContext *>(userdata);
    if (context != self->m_context)
        return;
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        pa_context_set_subscribe_callback(
            context,
            [](pa_context *context, pa_subscription_event_type_t type, uint32_t index, void *userdata) {
                PulseAudioContext::subscriptionCallback(context, int(type), index, userdata);
            },
            self);
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK
                                                 | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT);
        if (pa_operation *operation = pa_context_subscribe(context, mask, nullptr, nullptr))
            pa_operation_unref(operation);
        self->startSync();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        self->setState(State::Failed, pa_context_errno(context));
        break;
    default:
        break;
    }
}
QCoro::Task<bool> PulseAudioContext::ready()
{
    auto waiter = std::make_shared<ReadyWaiter>();
    waiter->promise.start();
    QFuture<bool> future = waiter->promise.future();
    {
        Lock lock(*this);
        State current;
        {
            std::lock_guard cache(m_cacheMutex);
            current = m_state;
        }
        if (current == State::Failed)
            connectToServer();
        std::lock_guard cache(m_cacheMutex);
        if (m_state == State::Connecting)
            m_readyWaiters.push_back(waiter);
        else
            waiter->complete(m_state == State::Ready);
    }
    const bool isReady = co_await future;
    co_return isReady;
}

void PulseAudioContext::reconnectIfFailed()
{
    Lock lock(*this);
    if (state() == State::Failed)
        connectToServer();
}

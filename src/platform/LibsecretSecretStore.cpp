#include "platform/LibsecretSecretStore.h"

#include "base/KavrelDiagnostics.h"
#include "base/ApplicationInfoTable.h"
#include "base/Async.h"

#include <QMetaObject>
#include <QThread>

#include <coroutine>
#include <memory>

// libsecret's headers use "signals" and friends as identifiers; QT_NO_KEYWORDS keeps
// Qt's macros out of their way.
#include <libsecret/secret.h>

namespace {

const SecretSchema *sessionSchema()
{
    // Matched by attributes alone, like a generic password, whatever schema name an
    // earlier build or another tool used.
    static const SecretSchema schema = {
        KAVREL_INFO_BUNDLE_IDENTIFIER ".GenericPassword",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

// Only errors that say the bus or the Secret Service is not there mean there is no usable
// Secret Service for this run. A slow or busy service (a D-Bus time-out, no reply), a locked
// collection or a dismissed prompt fail that one call: switching to memory for the rest of
// the run would hide the keyring's session and sign the user out until the next start.
LibsecretSecretStore::CallResult failure(GError *error)
{
    LibsecretSecretStore::CallResult result;
    result.ok = false;
    result.serviceUnavailable = LibsecretSecretStore::meansServiceMissing(error->domain, error->code);
    result.error = QString::fromUtf8(error->message);
    g_error_free(error);
    return result;
}

LibsecretSecretStore::CallResult lookup(const QByteArray &service, const QByteArray &account)
{
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_sync(sessionSchema(), nullptr, &error, "service",
                                                            service.constData(), "account", account.constData(), nullptr);
    if (error)
        return failure(error);
    LibsecretSecretStore::CallResult result;
    result.ok = true;
    if (value) {
        gsize length = 0;
        const gchar *bytes = secret_value_get(value, &length);
        result.data = QByteArray(bytes, qsizetype(length));
        secret_value_unref(value);
    }
    return result;
}

LibsecretSecretStore::CallResult store(const QByteArray &service, const QByteArray &account, const QByteArray &data)
{
    GError *error = nullptr;
    SecretValue *value = secret_value_new(data.constData(), data.size(), "application/json");
    const QByteArray label = QByteArray("КАВРЕЛ ") + account;
    // An item with the same attributes is replaced in place.
    secret_password_store_binary_sync(sessionSchema(), SECRET_COLLECTION_DEFAULT, label.constData(), value, nullptr,
                                      &error, "service", service.constData(), "account", account.constData(), nullptr);
    secret_value_unref(value);
    if (error)
        return failure(error);
    LibsecretSecretStore::CallResult result;
    result.ok = true;
    return result;
}

LibsecretSecretStore::CallResult clear(const QByteArray &service, const QByteArray &account)
{
    GError *error = nullptr;
    secret_password_clear_sync(sessionSchema(), nullptr, &error, "service", service.constData(), "account",
                               account.constData(), nullptr);
    if (error)
        return failure(error);
    LibsecretSecretStore::CallResult result;
    result.ok = true;
    return result;
}

class WorkerAwaiter
{
public:
    WorkerAwaiter(QObject *worker, QObject *context, std::function<LibsecretSecretStore::CallResult()> work,
                  std::shared_ptr<LibsecretSecretStore::PendingCall> call)
        : m_worker(worker), m_context(context), m_work(std::move(work)), m_call(std::move(call)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_call->handle = handle;
        auto call = m_call;
        auto work = m_work;
        QPointer<QObject> context = m_context;
        // Without a worker (the store is shutting down) the call never runs; the store's
        // destructor ends it.
        QMetaObject::invokeMethod(
            m_worker,
            [call, work, context] {
                call->result = work();
                if (context)
                    QMetaObject::invokeMethod(
                        context.data(),
                        [call] {
                            if (call->resumed)
                                return;
                            call->resumed = true;
                            call->handle.resume();
                        },
                        Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }
    LibsecretSecretStore::CallResult await_resume()
    {
        if (m_call->cancelled)
            throw CancellationError();
        return std::move(m_call->result);
    }

private:
    QObject *m_worker;
    QObject *m_context;
    std::function<LibsecretSecretStore::CallResult()> m_work;
    std::shared_ptr<LibsecretSecretStore::PendingCall> m_call;
};

} // namespace

LibsecretSecretStore::LibsecretSecretStore(QString service, QObject *parent)
    : SecretStore(parent)
    , m_service(std::move(service))
    , m_thread(new QThread(this))
    , m_memory(new InMemorySecretStore(this))
{
    m_thread->setObjectName(QStringLiteral("SecretStore"));
    auto *worker = new QObject();
    worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    m_thread->start();
}

LibsecretSecretStore::~LibsecretSecretStore()
{
    m_thread->quit();
    m_thread->wait();
    // Calls whose answer never came back (still queued, or answered after this store began
    // to go) end with a cancellation on the next turn instead of waiting for ever. Their
    // callers resume outside this destructor.
    for (const std::shared_ptr<PendingCall> &call : std::as_const(m_pendingCalls)) {
        if (call->resumed)
            continue;
        call->resumed = true;
        call->cancelled = true;
        kavrel::detail::resumeLater(call->handle);
    }
}

bool LibsecretSecretStore::meansServiceMissing(quint32 domain, int code)
{
    if (domain == SECRET_ERROR)
        return false;
    if (domain == G_DBUS_ERROR) {
        switch (code) {
        case G_DBUS_ERROR_TIMEOUT:
        case G_DBUS_ERROR_TIMED_OUT:
        case G_DBUS_ERROR_NO_REPLY:
        case G_DBUS_ERROR_LIMITS_EXCEEDED:
        case G_DBUS_ERROR_NO_MEMORY:
            return false;
        default:
            return true;
        }
    }
    if (domain == G_IO_ERROR)
        return code != G_IO_ERROR_TIMED_OUT && code != G_IO_ERROR_CANCELLED && code != G_IO_ERROR_BUSY;
    return true;
}

void LibsecretSecretStore::switchToMemory(const QString &reason)
{
    if (m_unavailable)
        return;
    m_unavailable = true;
    qCWarning(KavrelDiagnostics::app()).noquote()
        << "No Secret Service is available; the sign-in session is kept in memory for this run only:" << reason;
}

QCoro::Task<LibsecretSecretStore::CallResult> LibsecretSecretStore::runOnWorker(std::function<CallResult()> work)
{
    auto call = std::make_shared<PendingCall>();
    m_pendingCalls.append(call);
    // Throws CancellationError, without touching this store, when the store went first.
    CallResult result = co_await WorkerAwaiter(m_worker.data(), this, std::move(work), call);
    m_pendingCalls.removeOne(call);
    co_return result;
}

QCoro::Task<std::optional<QByteArray>> LibsecretSecretStore::load(QString account)
{
    if (!m_unavailable) {
        const QByteArray service = m_service.toUtf8();
        const QByteArray accountBytes = account.toUtf8();
        std::function<CallResult()> work = [service, accountBytes] { return lookup(service, accountBytes); };
        const CallResult result = co_await runOnWorker(work);
        if (result.ok)
            co_return result.data;
        if (!result.serviceUnavailable) {
            qCWarning(KavrelDiagnostics::app()).noquote() << "Reading the secret store failed:" << result.error;
            throw SecretStoreError(result.error);
        }
        switchToMemory(result.error);
    }
    co_return m_memory->value(account);
}

QCoro::Task<void> LibsecretSecretStore::save(QByteArray data, QString account)
{
    if (!m_unavailable) {
        const QByteArray service = m_service.toUtf8();
        const QByteArray accountBytes = account.toUtf8();
        std::function<CallResult()> work = [service, accountBytes, data] { return store(service, accountBytes, data); };
        const CallResult result = co_await runOnWorker(work);
        if (result.ok)
            co_return;
        if (!result.serviceUnavailable)
            throw SecretStoreError(result.error);
        switchToMemory(result.error);
    }
    m_memory->setValue(account, data);
}

QCoro::Task<void> LibsecretSecretStore::remove(QString account)
{
    if (!m_unavailable) {
        const QByteArray service = m_service.toUtf8();
        const QByteArray accountBytes = account.toUtf8();
        std::function<CallResult()> work = [service, accountBytes] { return clear(service, accountBytes); };
        const CallResult result = co_await runOnWorker(work);
        if (result.ok)
            co_return;
        if (!result.serviceUnavailable) {
            qCWarning(KavrelDiagnostics::app()).noquote() << "Removing a secret failed:" << result.error;
            co_return;
        }
        switchToMemory(result.error);
    }
    m_memory->removeValue(account);
}

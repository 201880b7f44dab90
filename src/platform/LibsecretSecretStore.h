#pragma once

#include "platform/InMemorySecretStore.h"
#include "platform/SecretStore.h"

#include <QList>
#include <QPointer>
#include <QString>

#ifndef Q_MOC_RUN // moc cannot parse <coroutine>
#include <coroutine>
#endif
#include <functional>
#include <memory>

class QThread;

// Secrets in the desktop's Secret Service (gnome-keyring, KWallet's bridge, KeePassXC),
// as items with the attributes "service" and "account". Saving replaces the item in
// place. The blocking libsecret calls run one after another on a worker thread; results
// come back on the store's thread. Without a Secret Service the secrets are kept in memory
// for this run (the reason is logged once), never in a file.
class LibsecretSecretStore final : public SecretStore
{
    Q_OBJECT

public:
    explicit LibsecretSecretStore(QString service, QObject *parent = nullptr);
    ~LibsecretSecretStore() override;

    QString service() const { return m_service; }
    // True once the Secret Service turned out to be unavailable.
    bool isUsingMemoryFallback() const { return m_unavailable; }

    QCoro::Task<std::optional<QByteArray>> load(QString account) override;
    QCoro::Task<void> save(QByteArray data, QString account) override;
    QCoro::Task<void> remove(QString account) override;

    // Whether a GLib error (domain quark and code) says that no Secret Service can be
    // reached at all, as opposed to one call failing.
    static bool meansServiceMissing(quint32 domain, int code);

    struct CallResult
    {
        bool ok = false;
        bool serviceUnavailable = false;
        std::optional<QByteArray> data;
        QString error;
    };

    // A call handed to the worker thread. The worker writes the result before it posts the
    // resumption back; everything else is touched on the store's thread only.
    struct PendingCall
    {
        std::coroutine_handle<> handle;
        CallResult result;
        bool resumed = false;
        bool cancelled = false;
    };

private:
    QCoro::Task<CallResult> runOnWorker(std::function<CallResult()> work);
    void switchToMemory(const QString &reason);

    QString m_service;
    QThread *m_thread = nullptr;
    QPointer<QObject> m_worker;
    InMemorySecretStore *m_memory = nullptr;
    bool m_unavailable = false;
    QList<std::shared_ptr<PendingCall>> m_pendingCalls;
};

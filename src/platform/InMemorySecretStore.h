#pragma once

#include "platform/SecretStore.h"

#include <QHash>

// Secrets kept in memory for this run only.
class InMemorySecretStore final : public SecretStore
{
    Q_OBJECT

public:
    explicit InMemorySecretStore(QObject *parent = nullptr) : SecretStore(parent) {}

    QCoro::Task<std::optional<QByteArray>> load(QString account) override;
    QCoro::Task<void> save(QByteArray data, QString account) override;
    QCoro::Task<void> remove(QString account) override;

    // Direct access for tests and for the libsecret store's fallback.
    std::optional<QByteArray> value(const QString &account) const;
    void setValue(const QString &account, const QByteArray &data) { m_items.insert(account, data); }
    void removeValue(const QString &account) { m_items.remove(account); }

private:
    QHash<QString, QByteArray> m_items;
};

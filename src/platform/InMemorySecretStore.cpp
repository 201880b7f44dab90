#include "platform/InMemorySecretStore.h"

QCoro::Task<std::optional<QByteArray>> InMemorySecretStore::load(QString account)
{
    co_return value(account);
}

QCoro::Task<void> InMemorySecretStore::save(QByteArray data, QString account)
{
    m_items.insert(account, data);
    co_return;
}

QCoro::Task<void> InMemorySecretStore::remove(QString account)
{
    m_items.remove(account);
    co_return;
}

std::optional<QByteArray> InMemorySecretStore::value(const QString &account) const
{
    const auto it = m_items.constFind(account);
    if (it == m_items.constEnd())
        return std::nullopt;
    return *it;
}

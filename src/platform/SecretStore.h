#pragma once

#include "base/KavrelError.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

// Reading or saving a secret failed.
class SecretStoreError final : public KavrelError
{
public:
    explicit SecretStoreError(QString detail) : m_detail(std::move(detail)) {}
    QString message() const override { return m_detail; }

private:
    QString m_detail;
};

// Opaque secrets kept under an account name, within one service name. Calls never block
// the main thread; their results arrive on it.
class SecretStore : public QObject
{
    Q_OBJECT

public:
    explicit SecretStore(QObject *parent = nullptr) : QObject(parent) {}
    ~SecretStore() override = default;

    // The stored data, or nothing when there is none. Throws SecretStoreError when the store
    // could not be read (a time-out, a locked keyring, a dismissed unlock prompt): the item
    // may well be there, so a caller must not take that for "signed out".
    virtual QCoro::Task<std::optional<QByteArray>> load(QString account) = 0;
    // Stores the data, replacing what the account held. Throws SecretStoreError.
    virtual QCoro::Task<void> save(QByteArray data, QString account) = 0;
    // Removes the account's data; an absent item is no error. Never throws.
    virtual QCoro::Task<void> remove(QString account) = 0;
};

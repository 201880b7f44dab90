#pragma once

#include <QString>
#include <QByteArray>
#include <exception>

// Base of every error this program throws. Each service has one subclass holding its
// case and associated values; message() is the fixed user-facing text of that case.
class KavrelError : public std::exception
{
public:
    ~KavrelError() override = default;

    virtual QString message() const = 0;

    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// Thrown when a task was cancelled. It is never shown to the user.
class CancellationError final : public KavrelError
{
public:
    QString message() const override { return QStringLiteral("The operation was cancelled."); }
};

// The text to show for any caught exception.
QString errorMessage(const std::exception_ptr &error);

// True when the exception is a CancellationError.
bool isCancellation(const std::exception_ptr &error);

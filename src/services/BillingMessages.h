#pragma once

// The bodies the billing backend sends and takes.
//
// Reading: fromJson() throws JsonDecodeError when the value is not an object, a required
// key is missing or null, or a value has the wrong type. Dates go through the backend date
// rule (ISO 8601 with or without fractional seconds).

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// The user's plan as the billing backend reports it.
struct KavrelBillingSubscription
{
    std::optional<QString> planCode;
    std::optional<QString> planName;
    QString status; // "active", "trialing", "past_due", "canceled", "expired", "none", ...
    std::optional<QDateTime> startedAt;
    std::optional<QDateTime> lastSuccessfulPaymentAt;
    std::optional<QDateTime> currentPeriodStart;
    std::optional<QDateTime> currentPeriodEnd;
    bool cancelAtPeriodEnd = false;

    static KavrelBillingSubscription fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingSubscription &) const = default;
};

// Listening time included in the plan, used and left, in seconds and in minutes.
struct KavrelBillingUsage
{
    QString meteringUnit;
    qint64 includedSeconds = 0;
    qint64 usedSeconds = 0;
    qint64 remainingSeconds = 0;
    qint64 includedMinutes = 0;
    qint64 usedMinutes = 0;
    qint64 remainingMinutes = 0;
    bool isLimitReached = false;
    bool canUseTranscription = false;

    static KavrelBillingUsage fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingUsage &) const = default;
};

// The signed-in user's plan and usage, read by the profile screen.
struct KavrelBillingSummary
{
    QDateTime serverTime;
    KavrelBillingSubscription subscription;
    KavrelBillingUsage usage;

    static KavrelBillingSummary fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingSummary &) const = default;
};

// One reported interval of listening. The session engine fills it; the times are ISO 8601
// texts the engine formats itself.
struct KavrelBillingUsageEvent
{
    QString eventId;
    std::optional<QString> meetingSessionId; // left out when absent; an empty text is sent as is
    QString clientSessionId;
    QString sourceApp;
    QString usageType;
    QString startedAt;
    QString endedAt;
    qint64 durationSeconds = 0;

    QJsonObject toJson() const;
    // Reads what toJson() wrote (an event kept on disk until it is sent).
    static KavrelBillingUsageEvent fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingUsageEvent &) const = default;
};

// A usage event the backend did not accept, and why.
struct KavrelBillingRejectedEvent
{
    std::optional<QString> eventId;
    std::optional<QString> reason;
    std::optional<QString> detail;

    static KavrelBillingRejectedEvent fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingRejectedEvent &) const = default;
};

// The backend's answer to a batch of usage events.
struct KavrelBillingUsageBatchResponse
{
    qint64 acceptedEvents = 0;
    qint64 duplicateEvents = 0;
    QList<KavrelBillingRejectedEvent> rejectedEvents;
    QDateTime serverTime;
    KavrelBillingSubscription subscription;
    KavrelBillingUsage usage;

    static KavrelBillingUsageBatchResponse fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const KavrelBillingUsageBatchResponse &) const = default;
};

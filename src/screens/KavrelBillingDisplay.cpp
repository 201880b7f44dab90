#include "screens/KavrelBillingDisplay.h"

#include "accounts/AppConfigurationStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "screens/KavrelProfileDates.h"

#include <QStringList>

#include <algorithm>

namespace KavrelBillingDisplay {

namespace {

QString lowered(const std::optional<QString> &text)
{
    return text ? text->trimmed().toLower() : QString();
}

QString capitalizedWords(const QString &text)
{
    QString result = text.toLower();
    bool atWordStart = true;
    for (QChar &character : result) {
        if (character.isSpace()) {
            atWordStart = true;
        } else if (atWordStart) {
            character = character.toUpper();
            atWordStart = false;
        }
    }
    return result;
}

QString minutes(qint64 value)
{
    return QString::number(value);
}

} // namespace

bool showsBillingAction(const KavrelBillingSummary &summary)
{
    static const QStringList lapsed = {QStringLiteral("expired"), QStringLiteral("canceled"), QStringLiteral("past_due"),
                                       QStringLiteral("none")};
    if (lapsed.contains(summary.subscription.status.trimmed().toLower()))
        return true;
    if (!summary.usage.canUseTranscription)
        return true;
    const QString free = QStringLiteral("free");
    return lowered(summary.subscription.planCode).contains(free) || lowered(summary.subscription.planName).contains(free);
}

QString statusTitle(const KavrelBillingSummary &summary, const KavrelLocalizationStore &store)
{
    const QString status = summary.subscription.status.toLower();
    static const QList<std::pair<QString, QString>> titles = {
        {QStringLiteral("active"), QStringLiteral("Active")},
        {QStringLiteral("trialing"), QStringLiteral("Trialing")},
        {QStringLiteral("past_due"), QStringLiteral("Past due")},
        {QStringLiteral("canceled"), QStringLiteral("Canceled")},
        {QStringLiteral("expired"), QStringLiteral("Expired")},
        {QStringLiteral("none"), QStringLiteral("No subscription")},
    };
    for (const auto &[raw, title] : titles) {
        if (raw == status)
            return store.localized(title);
    }
    return capitalizedWords(summary.subscription.status);
}

KavrelDynamicColor statusTint(const KavrelBillingSummary &summary)
{
    const QString status = summary.subscription.status.toLower();
    if (status == QLatin1String("active"))
        return KavrelStatusTints::green;
    if (status == QLatin1String("trialing"))
        return KavrelStatusTints::blue;
    if (status == QLatin1String("past_due"))
        return KavrelStatusTints::amber;
    if (status == QLatin1String("canceled") || status == QLatin1String("expired"))
        return KavrelStatusTints::red;
    return KavrelProfileTheme::tertiaryText;
}

QString billingActionTitle(const KavrelBillingSummary &summary)
{
    const QString status = summary.subscription.status.toLower();
    if (status == QLatin1String("expired") || status == QLatin1String("canceled") || status == QLatin1String("past_due"))
        return QStringLiteral("Renew");
    return QStringLiteral("Update");
}

QString planName(const KavrelBillingSummary &summary)
{
    const QString name = summary.subscription.planName.value_or(QString()).trimmed();
    return name.isEmpty() ? QStringLiteral("No active plan") : name;
}

QString usageDetailText(const KavrelBillingSummary &summary, const KavrelLocalizationStore &store)
{
    const KavrelBillingUsage &usage = summary.usage;
    if (usage.includedMinutes < 1) {
        return store.localized(usage.canUseTranscription ? QStringLiteral("No included minutes are reported yet.")
                                                         : QStringLiteral("No included minutes are available for this workspace."));
    }
    if (usage.isLimitReached || !usage.canUseTranscription) {
        return store.localizedFormat(QStringLiteral("Used %@ min out of %@ min. The billing limit has been reached."),
                                     QStringList{minutes(usage.usedMinutes), minutes(usage.includedMinutes)});
    }
    return store.localizedFormat(QStringLiteral("Used %@ min out of %@ min. %@ min remain in the current billing period."),
                                 QStringList{minutes(usage.usedMinutes), minutes(usage.includedMinutes),
                                             minutes(usage.remainingMinutes)});
}

double usageBarFillWidth(const KavrelBillingUsage &usage, double trackWidth)
{
    if (usage.includedMinutes < 1)
        return 0;
    const double fraction = double(usage.usedMinutes) / double(usage.includedMinutes);
    if (fraction <= 0)
        return 0;
    return std::max(trackWidth * std::min(fraction, 1.0), minimumBarFill);
}

QString periodEndText(const KavrelBillingSummary &summary, const KavrelLocalizationStore &store)
{
    if (!summary.subscription.currentPeriodEnd || !summary.subscription.currentPeriodEnd->isValid())
        return QString(missingValue);
    return KavrelProfileDates::profileDisplayDate(*summary.subscription.currentPeriodEnd, store.language());
}

QUrl billingURL()
{
    static const QUrl url(AppConfigurationStore::builtInBackendBaseURL() + QStringLiteral("/billing"));
    return url;
}

} // namespace KavrelBillingDisplay

#pragma once

#include "kit/KavrelPalette.h"
#include "services/BillingMessages.h"

#include <QString>
#include <QUrl>

class KavrelLocalizationStore;

// How the profile screen presents a billing summary: which status title and tint it gets,
// whether the web-billing action shows, the usage sentence and the width of the usage bar.
namespace KavrelBillingDisplay {

inline constexpr QChar missingValue = QChar(0x2014); // "—"
inline constexpr double minimumBarFill = 10;

// True for a lapsed or missing subscription, a workspace that may not transcribe, or a free
// plan (by code or name, in any letter case).
bool showsBillingAction(const KavrelBillingSummary &summary);
// The status's title in the interface language; an unknown status is shown capitalized word by
// word, untranslated.
QString statusTitle(const KavrelBillingSummary &summary, const KavrelLocalizationStore &store);
KavrelDynamicColor statusTint(const KavrelBillingSummary &summary);
// The English key of the web-billing button: "Renew" for a lapsed plan, else "Update".
QString billingActionTitle(const KavrelBillingSummary &summary);
// The plan's name trimmed, or the key "No active plan".
QString planName(const KavrelBillingSummary &summary);
QString usageDetailText(const KavrelBillingSummary &summary, const KavrelLocalizationStore &store);
// The width of the usage bar's fill on a track `trackWidth` wide.
double usageBarFillWidth(const KavrelBillingUsage &usage, double trackWidth);
// The period's end as a medium date in the interface language, or "—".
QString periodEndText(const KavrelBillingSummary &summary, const KavrelLocalizationStore &store);
// The web app's billing page on the built-in backend origin.
QUrl billingURL();

} // namespace KavrelBillingDisplay

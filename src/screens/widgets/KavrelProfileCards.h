#pragma once

#include "kit/KavrelPalette.h"
#include "services/BillingMessages.h"

#include <QString>

#include <functional>
#include <optional>

class KavrelAvatarLoader;
class QWidget;

// The building blocks of the profile screen. Texts given as keys are looked up in the
// interface language here; a text already translated passes unchanged. Each returns a new
// widget for the caller's layout.
namespace KavrelProfileCards {

QWidget *sectionCard(const QString &title, const std::optional<QString> &subtitle, QWidget *content);
QWidget *identityHero(const QString &displayName, const QString &email, const QString &initials,
                      const std::optional<QString> &avatarURL, KavrelAvatarLoader *loader);
QWidget *infoRow(const QString &title, const QString &value, const QString &symbol);
QWidget *badge(const QString &title, KavrelDynamicColor tint);
QWidget *billingStatusBadge(const KavrelBillingSummary &summary);
// The plan with, when the summary calls for it, the button that opens the web billing page.
QWidget *billingPlanRow(const KavrelBillingSummary &summary, std::function<void()> openBilling);
QWidget *statusStrip(const QString &text, KavrelDynamicColor tint);
// The message is shown as given, never looked up.
QWidget *inlineErrorCard(const QString &text, const QString &actionTitle, std::function<void()> action);
QWidget *loadingCard(const QString &text);

} // namespace KavrelProfileCards

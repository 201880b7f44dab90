#pragma once

#include "kit/KavrelPalette.h"
#ifndef Q_MOC_RUN
#include "base/Async.h"
#endif
#include "services/BillingMessages.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

class AuthSessionStore;
class KavrelBillingService;
class KavrelLocalizationStore;

// The state of the profile screen: one refresh pass at a time fetches the user's profile and
// then the billing summary, and writes both outcomes together when both have ended. A summary
// that loaded once stays when a later load fails. Main thread only.
//
// A pass that is cancelled (the screen is left, or the signed-in user changes) writes nothing
// and frees the way for the next pass at once; so does a pass whose user is no longer the
// signed-in one when it ends.
class KavrelProfileModel final : public QObject
{
    Q_OBJECT

public:
    struct StatusStrip
    {
        QString text;
        KavrelDynamicColor tint;
    };

    KavrelProfileModel(AuthSessionStore *authStore, KavrelBillingService *billingService,
                       KavrelLocalizationStore &localization, QObject *parent = nullptr);
    ~KavrelProfileModel() override;

    bool isRefreshingProfile() const { return m_isRefreshingProfile; }
    const std::optional<QString> &profileRefreshErrorMessage() const { return m_profileRefreshErrorMessage; }
    const std::optional<KavrelBillingSummary> &billingSummary() const { return m_billingSummary; }
    const std::optional<QString> &billingRefreshErrorMessage() const { return m_billingRefreshErrorMessage; }

    // The strip under the title: syncing, the profile's failure, the billing's failure, or
    // up to date; none without a signed-in user.
    std::optional<StatusStrip> syncStrip() const;

    // Starts a pass unless one runs; returns at once.
    void startRefresh();
    // Runs one pass; returns at once when one already runs.
    QCoro::Task<void> refreshProfileScreenData();
    // Ends the running pass without writing its outcome.
    void cancelRefresh();

Q_SIGNALS:
    void changed();

private:
    struct BillingResult
    {
        std::optional<KavrelBillingSummary> summary;
        QString errorMessage;
    };

    static QCoro::Task<void> runPass(QPointer<KavrelProfileModel> self, CancellationToken token);
    QCoro::Task<BillingResult> loadBillingSummaryResult(CancellationToken token);
    std::optional<QString> currentUserId() const;
    void setRefreshing(bool refreshing);

    QPointer<AuthSessionStore> m_authStore;
    QPointer<KavrelBillingService> m_billingService;
    KavrelLocalizationStore &m_localization;

    bool m_isRefreshingProfile = false;
    std::optional<QString> m_profileRefreshErrorMessage;
    std::optional<KavrelBillingSummary> m_billingSummary;
    std::optional<QString> m_billingRefreshErrorMessage;
    CancellationToken m_passToken;
    TaskHandle<void> m_startedPass;
};

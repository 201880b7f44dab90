#include "screens/KavrelProfileModel.h"

#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "base/KavrelError.h"
#include "services/KavrelBillingService.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(kavrelProfileLog, "app.kavrel.desktop.Profile")

namespace {

QString describe(const std::exception &error)
{
    if (const auto *kavrelError = dynamic_cast<const KavrelError *>(&error))
        return kavrelError->message();
    return QString::fromLocal8Bit(error.what());
}

} // namespace

KavrelProfileModel::KavrelProfileModel(AuthSessionStore *authStore, KavrelBillingService *billingService,
                                       KavrelLocalizationStore &localization, QObject *parent)
    : QObject(parent), m_authStore(authStore), m_billingService(billingService), m_localization(localization)
{
    if (authStore)
        connect(authStore, &AuthSessionStore::sessionChanged, this, &KavrelProfileModel::changed);
}

KavrelProfileModel::~KavrelProfileModel()
{
    m_passToken.cancel();
}

std::optional<KavrelProfileModel::StatusStrip> KavrelProfileModel::syncStrip() const
{
    if (m_isRefreshingProfile)
        return StatusStrip{m_localization.localized(QStringLiteral("Syncing account and billing…")),
                           kavrelFixed({0.17, 0.54, 0.95, 1})};
    if (m_profileRefreshErrorMessage)
        return StatusStrip{m_localization.localizedMessage(*m_profileRefreshErrorMessage), kavrelFixed({0.84, 0.33, 0.30, 1})};
    if (m_billingRefreshErrorMessage)
        return StatusStrip{m_localization.localizedFormat(QStringLiteral("Account synced, but billing is unavailable right now: %@"),
                                                          QStringList{m_localization.localizedMessage(*m_billingRefreshErrorMessage)}),
                           kavrelFixed({0.86, 0.62, 0.20, 1})};
    if (currentUserId())
        return StatusStrip{m_localization.localized(QStringLiteral("Account and billing data are up to date.")),
                           kavrelFixed({0.15, 0.67, 0.46, 1})};
    return std::nullopt;
}

void KavrelProfileModel::startRefresh()
{
    if (m_isRefreshingProfile)
        return;
    QPointer<KavrelProfileModel> self(this);
    m_startedPass = spawnTask([self](CancellationToken) -> QCoro::Task<void> {
        if (self)
            co_await self->refreshProfileScreenData();
    });
}

QCoro::Task<void> KavrelProfileModel::refreshProfileScreenData()
{
    if (m_isRefreshingProfile)
        co_return;
    m_passToken = CancellationToken();
    setRefreshing(true);
    co_await runPass(QPointer<KavrelProfileModel>(this), m_passToken);
}

void KavrelProfileModel::cancelRefresh()
{
    if (!m_isRefreshingProfile)
        return;
    m_passToken.cancel();
    setRefreshing(false);
}

QCoro::Task<void> KavrelProfileModel::runPass(QPointer<KavrelProfileModel> self, CancellationToken token)
{
    const std::optional<QString> userId = self->currentUserId();
    QPointer<AuthSessionStore> store = self->m_authStore;

    std::optional<QString> profileError;
    try {
        if (!store)
            throw CancellationError();
        co_await store->refreshCurrentUserProfile();
    } catch (const CancellationError &) {
        if (!token.isCancelled())
            profileError = CancellationError().message();
    } catch (const std::exception &error) {
        profileError = describe(error);
    }
    if (!self || token.isCancelled())
        co_return;

    const BillingResult billing = co_await self->loadBillingSummaryResult(token);
    if (!self || token.isCancelled())
        co_return;

    if (self->currentUserId() != userId) {
        // Another user signed in (or nobody is) since the pass began: its outcome is not theirs.
        qCInfo(kavrelProfileLog) << "Dropped a profile refresh of a user who is no longer signed in";
        self->setRefreshing(false);
        co_return;
    }

    self->m_profileRefreshErrorMessage = profileError;
    if (billing.summary) {
        self->m_billingSummary = billing.summary;
        self->m_billingRefreshErrorMessage.reset();
    } else {
        self->m_billingRefreshErrorMessage = billing.errorMessage;
    }
    self->setRefreshing(false);
}

QCoro::Task<KavrelProfileModel::BillingResult> KavrelProfileModel::loadBillingSummaryResult(CancellationToken token)
{
    QPointer<KavrelBillingService> service = m_billingService;
    std::optional<QString> accessToken;
    if (m_authStore && m_authStore->session())
        accessToken = m_authStore->session()->accessToken;

    BillingResult result;
    try {
        if (!service)
            throw CancellationError();
        KavrelBillingSummary summary;
        if (accessToken)
            summary = co_await service->fetchSummary(*accessToken, token);
        else
            summary = co_await service->fetchSummary(token);
        result.summary = summary;
    } catch (const std::exception &error) {
        result.errorMessage = describe(error);
    }
    co_return result;
}

std::optional<QString> KavrelProfileModel::currentUserId() const
{
    if (!m_authStore)
        return std::nullopt;
    const std::optional<AuthenticatedUser> user = m_authStore->currentUser();
    if (!user)
        return std::nullopt;
    return user->id;
}

void KavrelProfileModel::setRefreshing(bool refreshing)
{
    if (m_isRefreshingProfile == refreshing)
        return;
    m_isRefreshingProfile = refreshing;
    Q_EMIT changed();
}

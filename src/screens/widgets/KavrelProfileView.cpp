#include "screens/widgets/KavrelProfileView.h"

#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelScrollPage.h"
#include "screens/KavrelAvatarLoader.h"
#include "screens/KavrelBillingDisplay.h"
#include "screens/KavrelProfileModel.h"
#include "screens/widgets/KavrelBillingUsageCard.h"
#include "screens/widgets/KavrelProfileCards.h"
#include "screens/widgets/KavrelScreenButton.h"
#include "screens/widgets/KavrelScreenLabel.h"
#include "screens/widgets/KavrelScrollFocus.h"
#include "services/KavrelBillingService.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

const KavrelDynamicColor blue = kavrelFixed({0.17, 0.54, 0.95, 1});

std::optional<QString> userIdOf(const AuthSessionStore *store)
{
    if (!store)
        return std::nullopt;
    const std::optional<AuthenticatedUser> user = store->currentUser();
    return user ? std::optional<QString>(user->id) : std::nullopt;
}

} // namespace

KavrelProfileView::KavrelProfileView(AuthSessionStore *authStore, KavrelAvatarLoader *avatarLoader, QWidget *parent)
    : KavrelProfileView(authStore, std::make_unique<KavrelBillingService>(authStore ? authStore->authService() : nullptr),
                        avatarLoader, UrlOpener(), parent)
{
}

KavrelProfileView::KavrelProfileView(AuthSessionStore *authStore, std::unique_ptr<KavrelBillingService> billingService,
                                     KavrelAvatarLoader *avatarLoader, UrlOpener openUrl, QWidget *parent)
    : QWidget(parent),
      m_authStore(authStore),
      m_billingService(std::move(billingService)),
      m_avatarLoader(avatarLoader),
      m_openUrl(openUrl ? std::move(openUrl) : UrlOpener([](const QUrl &url) { QDesktopServices::openUrl(url); }))
{
    m_model = std::make_unique<KavrelProfileModel>(authStore, m_billingService.get(), KavrelLocalizationStore::shared());
    build();
    connect(m_model.get(), &KavrelProfileModel::changed, this, &KavrelProfileView::scheduleRefresh);
    if (authStore)
        connect(authStore, &AuthSessionStore::sessionChanged, this, &KavrelProfileView::sessionChanged);
    m_shownUserId = userIdOf(authStore);
    refresh();
}

KavrelProfileView::~KavrelProfileView()
{
    m_model->cancelRefresh();
}

void KavrelProfileView::build()
{
    m_scrollArea = KavrelScrollPage::install(this);

    auto *page = new QWidget;
    page->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(24);

    auto *header = new QVBoxLayout;
    header->setSpacing(10);
    auto *title =
        new KavrelScreenLabel(localized(QStringLiteral("Profile")), 42, QFont::Bold, KavrelProfileTheme::primaryText);
    // The window brought forward from elsewhere holds the keyboard on the heading, not on sign out.
    KavrelArrivalFocus::setLanding(title);
    header->addWidget(title);
    auto *subtitle = new KavrelScreenLabel(localized(QStringLiteral("Manage your КАВРЕЛ account, plan, and usage.")), 18,
                                           QFont::Medium, KavrelProfileTheme::secondaryText);
    subtitle->setWordWrap(true);
    header->addWidget(subtitle);
    layout->addLayout(header);

    m_stripSlot = new QVBoxLayout;
    m_accountSlot = new QVBoxLayout;
    m_billingSlot = new QVBoxLayout;
    for (QVBoxLayout *slot : {m_stripSlot, m_accountSlot, m_billingSlot}) {
        slot->setContentsMargins(0, 0, 0, 0);
        layout->addLayout(slot);
    }

    auto *footer = new QHBoxLayout;
    footer->setSpacing(12);
    m_signOutButton = KavrelScreenButton::make(localized(QStringLiteral("Sign out")),
                                               KavrelScreenButton::look(KavrelProfileTheme::signOutText, KavrelProfileTheme::signOutText));
    KavrelCapsuleButton::Look refreshLook = KavrelScreenButton::look(KavrelProfileTheme::secondaryText, KavrelProfileTheme::primaryText);
    refreshLook.fillOpacity = 0.08;
    refreshLook.strokeOpacity = 0.35;
    m_refreshButton = KavrelScreenButton::make(localized(QStringLiteral("Refresh profile")), refreshLook);
    footer->addWidget(m_signOutButton);
    footer->addWidget(m_refreshButton);
    footer->addStretch(1);
    layout->addLayout(footer);
    layout->addStretch(1);

    connect(m_signOutButton, &QAbstractButton::clicked, this, [this] {
        if (m_authStore)
            m_authStore->signOut();
    });
    connect(m_refreshButton, &QAbstractButton::clicked, this, [this] { m_model->startRefresh(); });
    KavrelScrollPage::setPage(m_scrollArea, page);
    KavrelScrollFocus::follow(m_scrollArea);
}

void KavrelProfileView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous() || m_isShown)
        return;
    m_isShown = true;
    m_shownUserId = userIdOf(m_authStore);
    m_model->startRefresh();
    refresh();
}

void KavrelProfileView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    m_isShown = false;
    m_model->cancelRefresh();
}

void KavrelProfileView::sessionChanged()
{
    const std::optional<QString> userId = userIdOf(m_authStore);
    if (userId != m_shownUserId) {
        m_shownUserId = userId;
        if (m_isShown) {
            m_model->cancelRefresh();
            m_model->startRefresh();
        }
    }
    scheduleRefresh();
}

void KavrelProfileView::scheduleRefresh()
{
    m_deferredRefresh.schedule();
}

void KavrelProfileView::refresh()
{
    m_deferredRefresh.done();
    const std::optional<KavrelProfileModel::StatusStrip> strip = m_model->syncStrip();
    rebuildSlot(m_stripSlot, strip ? KavrelProfileCards::statusStrip(strip->text, strip->tint) : nullptr);
    rebuildSlot(m_accountSlot, KavrelProfileCards::sectionCard(QStringLiteral("Account"),
                                                                QStringLiteral("Your signed-in КАВРЕЛ profile."),
                                                                makeAccountContent()));
    rebuildSlot(m_billingSlot, KavrelProfileCards::sectionCard(
                                   QStringLiteral("Billing"),
                                   QStringLiteral("Current plan, billing period, and live transcription usage."),
                                   makeBillingContent()));
    KavrelFocusHold::setAvailable(m_refreshButton, !m_model->isRefreshingProfile());
}

void KavrelProfileView::rebuildSlot(QVBoxLayout *slot, QWidget *content)
{
    while (QLayoutItem *item = slot->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            // A button of the old content may be the one whose click led here.
            widget->deleteLater();
        }
        delete item;
    }
    if (content)
        slot->addWidget(content);
}

QWidget *KavrelProfileView::makeAccountContent() const
{
    const std::optional<AuthenticatedUser> user = m_authStore ? m_authStore->currentUser() : std::nullopt;
    if (!user) {
        auto *text = new KavrelScreenLabel(
            localized(QStringLiteral("No authenticated account is available in the current desktop session.")), 15,
            QFont::Medium, KavrelProfileTheme::secondaryText);
        text->setObjectName(QStringLiteral("noAccountText"));
        text->setWordWrap(true);
        return text;
    }
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    layout->addWidget(KavrelProfileCards::identityHero(user->displayName, user->email, user->initials(), user->avatarURL,
                                                       m_avatarLoader));
    auto *rows = new QVBoxLayout;
    rows->setSpacing(12);
    rows->addWidget(KavrelProfileCards::infoRow(QStringLiteral("Name"), user->displayName, QStringLiteral("person")));
    rows->addWidget(KavrelProfileCards::infoRow(QStringLiteral("Email"), user->email, QStringLiteral("envelope")));
    layout->addLayout(rows);
    return content;
}

QWidget *KavrelProfileView::makeBillingContent()
{
    const std::optional<KavrelBillingSummary> &summary = m_model->billingSummary();
    if (!summary) {
        if (const std::optional<QString> &error = m_model->billingRefreshErrorMessage()) {
            return KavrelProfileCards::inlineErrorCard(*error, QStringLiteral("Retry billing"),
                                                       [this] { m_model->startRefresh(); });
        }
        return KavrelProfileCards::loadingCard(QStringLiteral("Loading billing summary…"));
    }

    const KavrelLocalizationStore &store = KavrelLocalizationStore::shared();
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("billingSummary"));
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    auto *badges = new QHBoxLayout;
    badges->setSpacing(12);
    badges->addWidget(KavrelProfileCards::billingStatusBadge(*summary));
    if (summary->subscription.cancelAtPeriodEnd)
        badges->addWidget(KavrelProfileCards::badge(QStringLiteral("Cancels at period end"), KavrelStatusTints::amber));
    badges->addStretch(1);
    layout->addLayout(badges);

    const bool showsAction = KavrelBillingDisplay::showsBillingAction(*summary);
    if (showsAction) {
        QWidget *note = KavrelProfileCards::statusStrip(
            QStringLiteral("Pro beta is free while КАВРЕЛ is in beta. You will be notified before paid billing begins."), blue);
        note->setObjectName(QStringLiteral("betaNote"));
        layout->addWidget(note);
    }

    auto *rows = new QVBoxLayout;
    rows->setSpacing(12);
    rows->addWidget(KavrelProfileCards::billingPlanRow(*summary, [this] { m_openUrl(KavrelBillingDisplay::billingURL()); }));
    rows->addWidget(KavrelProfileCards::infoRow(QStringLiteral("Current period end"),
                                                KavrelBillingDisplay::periodEndText(*summary, store),
                                                QStringLiteral("calendar")));
    rows->addWidget(KavrelProfileCards::infoRow(QStringLiteral("Subscription status"),
                                                KavrelBillingDisplay::statusTitle(*summary, store),
                                                QStringLiteral("checkmark.seal")));
    rows->addWidget(KavrelProfileCards::infoRow(QStringLiteral("Transcription access"),
                                                summary->usage.canUseTranscription
                                                    ? QStringLiteral("Live transcription available")
                                                    : QStringLiteral("Live transcription unavailable"),
                                                QStringLiteral("waveform.badge.mic")));
    layout->addLayout(rows);
    layout->addWidget(new KavrelBillingUsageCard(*summary));
    return content;
}

void KavrelProfileView::paintEvent(QPaintEvent *)
{
    // The section's backdrop: the shell's background gradient.
    QPainter painter(this);
    QPainterPath all;
    all.addRect(QRectF(rect()));
    KavrelPainting::fillGradient(painter, all, KavrelShellTheme::shellTop.resolve(palette()),
                                 KavrelShellTheme::shellBottom.resolve(palette()));
}

#pragma once

#include "kit/widgets/KavrelDeferredRefresh.h"
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AuthSessionStore;
class KavrelAvatarLoader;
class KavrelBillingService;
class KavrelProfileModel;
class KavrelCapsuleButton;
class QScrollArea;
class QVBoxLayout;

// The profile section of the workspace: the signed-in account, the plan and the usage of the
// billing period, with "Sign out" and "Refresh profile". Each showing runs a refresh pass, and
// so does a change of the signed-in user while it is shown; leaving it ends the pass.
class KavrelProfileView final : public QWidget
{
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QUrl &)>;

    // Makes its own billing client over the store's auth service.
    KavrelProfileView(AuthSessionStore *authStore, KavrelAvatarLoader *avatarLoader, QWidget *parent = nullptr);
    // With the caller's billing client; `openUrl` opens the billing page (the desktop's
    // browser unless given).
    KavrelProfileView(AuthSessionStore *authStore, std::unique_ptr<KavrelBillingService> billingService,
                      KavrelAvatarLoader *avatarLoader, UrlOpener openUrl = UrlOpener(), QWidget *parent = nullptr);
    ~KavrelProfileView() override;

    KavrelProfileModel *model() const { return m_model.get(); }
    KavrelCapsuleButton *refreshButton() const { return m_refreshButton; }
    KavrelCapsuleButton *signOutButton() const { return m_signOutButton; }
    QScrollArea *scrollArea() const { return m_scrollArea; }

    // Applies the model's state now rather than on the next turn of the event loop.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void build();
    void scheduleRefresh();
    void sessionChanged();
    void rebuildSlot(QVBoxLayout *slot, QWidget *content);
    QWidget *makeAccountContent() const;
    QWidget *makeBillingContent();

    QPointer<AuthSessionStore> m_authStore;
    std::unique_ptr<KavrelBillingService> m_billingService;
    std::unique_ptr<KavrelProfileModel> m_model;
    QPointer<KavrelAvatarLoader> m_avatarLoader;
    UrlOpener m_openUrl;

    QScrollArea *m_scrollArea = nullptr;
    QVBoxLayout *m_stripSlot = nullptr;
    QVBoxLayout *m_accountSlot = nullptr;
    QVBoxLayout *m_billingSlot = nullptr;
    KavrelCapsuleButton *m_signOutButton = nullptr;
    KavrelCapsuleButton *m_refreshButton = nullptr;
    std::optional<QString> m_shownUserId;
    bool m_isShown = false;
    KavrelDeferredRefresh m_deferredRefresh{this, [this] { refresh(); }};
};

#pragma once

#include "signin/AppPermissionsController.h"
#include "signin/widgets/CachedBackground.h"
#ifndef Q_MOC_RUN // moc cannot parse <coroutine>, which this pulls in
#include "base/Async.h"
#endif

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class OnboardingCard;
class QBoxLayout;
class PermissionAccessCard;
class SetupProgressBadge;
class SetupReadinessMeter;
class StepRow;
class ThemedLabel;

// The first screen of a signed-in user on an installation that never finished it: it explains
// that listening captures the system's audio directly, offers the optional microphone access
// with live readiness, and lets the user continue with or without it. The left column holds
// the hero, the microphone card and the footer buttons; the right one three information cards.
//
// It owns its permission controller while it is on screen and reads the permission again when
// shown and whenever the application becomes active. Both footer buttons call onContinue.
class PermissionsOnboardingView final : public QWidget
{
    Q_OBJECT

public:
    PermissionsOnboardingView(std::unique_ptr<AppPermissionsController> permissionsController,
                              std::function<void()> onContinue, QWidget *parent = nullptr);
    ~PermissionsOnboardingView() override;

    AppPermissionsController *permissionsController() const { return m_permissionsController; }
    PermissionAccessCard *microphoneCard() const { return m_microphoneCard; }

    // A change of the permission blends the whole screen into its new look; this ends that at once.
    void finishAnimation();
    bool isAnimating() const;

    // The setup column's width for a screen this wide: 54 %, kept between 520 and 680.
    static qreal setupColumnWidth(qreal width);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildSetupColumn();
    QWidget *buildInsightColumn();
    void fitGapsToHeight();
    void updateFromController();
    void requestMicrophoneAccess();
    void finish();

    AppPermissionsController *m_permissionsController;
    std::function<void()> m_onContinue;
    QWidget *m_setupColumn = nullptr;
    SetupProgressBadge *m_progressBadge = nullptr;
    PermissionAccessCard *m_microphoneCard = nullptr;
    QWidget *m_openButton = nullptr;
    ThemedLabel *m_footerNote = nullptr;
    ThemedLabel *m_readinessSubtitle = nullptr;
    SetupReadinessMeter *m_readinessMeter = nullptr;
    ThemedLabel *m_readinessDetail = nullptr;
    StepRow *m_microphoneStep = nullptr;
    QList<OnboardingCard *> m_cards;
    // The layouts whose gaps narrow on a short screen, with their full gap.
    QList<std::pair<QBoxLayout *, int>> m_gaps;
    bool m_compact = false;
    std::optional<AppPermissionsController::MicrophoneState> m_shownState;
    CachedBackground m_background;
};

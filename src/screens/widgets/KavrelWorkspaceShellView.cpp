#include "screens/widgets/KavrelWorkspaceShellView.h"

#include "accounts/AuthSessionStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelFocusLanding.h"
#include "kit/widgets/KavrelAppearTransition.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "history/widgets/KavrelHistoryView.h"
#include "screens/KavrelAvatarLoader.h"
#include "screens/KavrelWorkspaceShellModel.h"
#include "screens/widgets/KavrelProfileView.h"
#include "screens/widgets/KavrelSettingsView.h"
#include "screens/widgets/KavrelSidebarRevealTab.h"
#include "screens/widgets/KavrelSidebarView.h"
#include "screens/widgets/KavrelSidebarVisibilityButton.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {
constexpr int revealDurationMs = 220;
} // namespace

KavrelWorkspaceShellView::KavrelWorkspaceShellView(Dependencies dependencies, QWidget *parent)
    : QWidget(parent), m_dependencies(std::move(dependencies))
{
    // The gradient covers every pixel: nothing under the shell needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_model = std::make_unique<KavrelWorkspaceShellModel>(*m_dependencies.defaults);
    if (!m_dependencies.avatarLoader) {
        m_ownAvatarLoader = std::make_unique<KavrelAvatarLoader>();
        m_dependencies.avatarLoader = m_ownAvatarLoader.get();
    }
    KavrelScreenFit::setMinimumSize(this, QSize(760, 820));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    KavrelSidebarView::Dependencies sidebarDependencies;
    sidebarDependencies.model = m_model.get();
    sidebarDependencies.authStore = m_dependencies.authStore;
    sidebarDependencies.updateController = m_dependencies.updateController;
    sidebarDependencies.avatarLoader = m_dependencies.avatarLoader;
    sidebarDependencies.quit = m_dependencies.quit;
    sidebarDependencies.openSettings = [this] {
        if (m_dependencies.openWindow)
            m_dependencies.openWindow(QString::fromLatin1(KavrelSettingsView::windowIdentifier));
    };
    // The sidebar keeps its width inside a strip whose width slides, so it moves in from the
    // leading edge instead of being squeezed.
    m_sidebarStrip = new QWidget(this);
    m_sidebarStrip->setFixedWidth(KavrelSidebarView::columnWidth);
    m_sidebarStrip->installEventFilter(this);
    m_sidebar = new KavrelSidebarView(std::move(sidebarDependencies), m_sidebarStrip);
    row->addWidget(m_sidebarStrip);

    auto *area = new QWidget(this);
    auto *areaLayout = new QVBoxLayout(area);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    areaLayout->setSpacing(0);
    auto *toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(10, 6, 10, 0);
    m_visibilityButton = new KavrelSidebarVisibilityButton(area);
    connect(m_visibilityButton, &QAbstractButton::clicked, m_model.get(), &KavrelWorkspaceShellModel::toggleSidebarVisibility);
    toolbar->addWidget(m_visibilityButton);
    toolbar->addStretch(1);
    areaLayout->addLayout(toolbar);
    m_sectionSlot = new QVBoxLayout;
    m_sectionSlot->setContentsMargins(0, 0, 0, 0);
    areaLayout->addLayout(m_sectionSlot, 1);
    row->addWidget(area, 1);

    m_revealTab = new KavrelSidebarRevealTab(this);
    connect(m_revealTab, &KavrelSidebarRevealTab::revealRequested, m_model.get(), &KavrelWorkspaceShellModel::revealSidebar);
    // The tab goes as it brings the sidebar back, and the sidebar as it is hidden: the keyboard
    // goes to the button that hides and shows it, not into the workspace beside them.
    new KavrelFocusLanding(m_revealTab, {m_visibilityButton});
    new KavrelFocusLanding(m_sidebarStrip, {m_visibilityButton});

    // The sidebar slides in from the leading edge and the tab comes and goes the same way.
    m_slide.setDuration(revealDurationMs);
    m_slide.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const int stripWidth = value.toInt();
        m_sidebarStrip->setFixedWidth(stripWidth);
        m_sidebarStrip->setVisible(stripWidth > 0);
        placeSidebar();
        if (auto *fade = qobject_cast<QGraphicsOpacityEffect *>(m_sidebar->graphicsEffect()))
            fade->setOpacity(double(stripWidth) / KavrelSidebarView::columnWidth);
    });
    // The fade is painted through an effect only while the sidebar moves.
    connect(&m_slide, &QVariantAnimation::stateChanged, this, [this](QAbstractAnimation::State state) {
        if (state == QAbstractAnimation::Running)
            m_sidebar->setGraphicsEffect(new QGraphicsOpacityEffect);
        else if (state == QAbstractAnimation::Stopped)
            m_sidebar->setGraphicsEffect(nullptr);
    });

    connect(m_model.get(), &KavrelWorkspaceShellModel::selectedSectionChanged, this, &KavrelWorkspaceShellView::showSection);
    connect(m_model.get(), &KavrelWorkspaceShellModel::sidebarHiddenChanged, this, &KavrelWorkspaceShellView::followSidebarHidden);

    const bool hidden = m_model->isSidebarHidden();
    m_sidebarStrip->setVisible(!hidden);
    m_revealTab->setVisible(hidden);
    m_revealTabTransition = new KavrelAppearTransition(m_revealTab, Qt::LeftEdge, revealDurationMs, QEasingCurve::InOutQuad);
    m_visibilityButton->setSidebarHidden(hidden);
    showSection(m_model->selectedSection());
}

KavrelWorkspaceShellView::~KavrelWorkspaceShellView() = default;

void KavrelWorkspaceShellView::showSection(KavrelAppSection section)
{
    if (m_section) {
        m_sectionSlot->removeWidget(m_section);
        m_section->hide();
        m_section->deleteLater();
    }
    QWidget *view = nullptr;
    switch (section) {
    case KavrelAppSection::workspace:
        view = m_dependencies.makeWorkspace ? m_dependencies.makeWorkspace() : nullptr;
        break;
    case KavrelAppSection::profile:
        view = m_dependencies.makeProfile ? m_dependencies.makeProfile()
                                          : new KavrelProfileView(m_dependencies.authStore, m_dependencies.avatarLoader);
        break;
    case KavrelAppSection::history:
        if (m_dependencies.makeHistory)
            view = m_dependencies.makeHistory();
        else if (m_dependencies.authStore)
            view = new KavrelHistoryView(m_dependencies.authStore->authService());
        break;
    }
    if (!view)
        view = new QWidget;
    view->setObjectName(KavrelAppSections::rawValue(section));
    m_section = view;
    m_sectionSlot->addWidget(view);
    view->show();
    m_revealTab->raise();
}

void KavrelWorkspaceShellView::followSidebarHidden(bool hidden)
{
    m_visibilityButton->setSidebarHidden(hidden);
    m_revealTabTransition->setShown(hidden);
    placeRevealTab();
    m_revealTab->raise();
    m_slide.stop();
    m_slide.setStartValue(m_sidebarStrip->isVisible() ? m_sidebarStrip->width() : 0);
    m_slide.setEndValue(hidden ? 0 : KavrelSidebarView::columnWidth);
    m_slide.start();
}

void KavrelWorkspaceShellView::finishAnimation()
{
    m_revealTabTransition->finish();
    m_sidebar->updateButtonTransition()->finish();
    if (m_slide.state() != QAbstractAnimation::Running)
        return;
    m_slide.setCurrentTime(m_slide.duration());
    m_slide.stop();
}

void KavrelWorkspaceShellView::placeSidebar()
{
    m_sidebar->setGeometry(m_sidebarStrip->width() - KavrelSidebarView::columnWidth, 0, KavrelSidebarView::columnWidth,
                           m_sidebarStrip->height());
}

bool KavrelWorkspaceShellView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_sidebarStrip && event->type() == QEvent::Resize)
        placeSidebar();
    return QWidget::eventFilter(watched, event);
}

bool KavrelWorkspaceShellView::isAnimating() const
{
    return m_slide.state() == QAbstractAnimation::Running || m_revealTabTransition->isRunning()
           || m_sidebar->updateButtonTransition()->isRunning();
}

void KavrelWorkspaceShellView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeRevealTab();
}

void KavrelWorkspaceShellView::placeRevealTab()
{
    m_revealTab->move(0, (height() - m_revealTab->height()) / 2);
}

void KavrelWorkspaceShellView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPainterPath all;
    all.addRect(QRectF(rect()));
    KavrelPainting::fillGradient(painter, all, KavrelShellTheme::shellTop.resolve(palette()),
                                 KavrelShellTheme::shellBottom.resolve(palette()));
}

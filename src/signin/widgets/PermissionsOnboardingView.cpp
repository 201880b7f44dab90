#include "signin/widgets/PermissionsOnboardingView.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelCrossFade.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSpring.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "signin/PermissionsOnboardingContent.h"
#include "signin/widgets/BenefitRow.h"
#include "signin/widgets/InsightCard.h"
#include "signin/widgets/PermissionAccessCard.h"
#include "signin/widgets/SetupProgressBadge.h"
#include "signin/widgets/SetupReadinessMeter.h"
#include "signin/widgets/SetupStatusBadge.h"
#include "signin/widgets/SignInButtons.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/StepRow.h"
#include "signin/widgets/SymbolTile.h"
#include "signin/widgets/ThemedLabel.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The height the screen is laid out for.
constexpr int designedHeight = 760;

using SignInTheme::amber;
using SignInTheme::blue;
using SignInTheme::green;

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

// The application's tile of the hero: a waveform on a red-to-blue gradient.
class AppTile final : public QWidget
{
public:
    explicit AppTile(QWidget *parent) : QWidget(parent) { setFixedSize(76, 76); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        KavrelPainting::fillGradient(painter, KavrelPainting::continuousRoundedRect(rect(), 26),
                                     QColor::fromRgbF(0.92f, 0.24f, 0.18f), QColor::fromRgbF(0.40f, 0.48f, 0.95f));
        SignInSymbols::paint(painter, QRectF(22, 22, 32, 32), QStringLiteral("waveform.badge.magnifyingglass"), Qt::white);
    }
};

// "Continue later": the kit's bordered capsule.
KavrelCapsuleButton *continueLaterButton(QWidget *parent)
{
    auto *button = new KavrelCapsuleButton(parent);
    KavrelCapsuleButton::Look look;
    look.horizontalPadding = 18;
    button->setLook(look);
    button->setText(localized(QStringLiteral("Continue later")));
    button->setFont(ThemedLabel::font(14, QFont::Medium));
    button->setFixedHeight(38);
    return button;
}

} // namespace

PermissionsOnboardingView::PermissionsOnboardingView(std::unique_ptr<AppPermissionsController> permissionsController,
                                                     std::function<void()> onContinue, QWidget *parent)
    : QWidget(parent)
    , m_permissionsController(permissionsController.release())
    , m_onContinue(std::move(onContinue))
{
    m_permissionsController->setParent(this);
    KavrelScreenFit::setMinimumSize(this, QSize(1120, designedHeight));

    auto *columns = new QHBoxLayout(this);
    columns->setContentsMargins(32, 32, 32, 32);
    columns->setSpacing(28);
    m_setupColumn = buildSetupColumn();
    columns->addWidget(m_setupColumn, 0);
    QWidget *insightColumn = buildInsightColumn();
    columns->addWidget(insightColumn, 1);
    for (const QWidget *column : {m_setupColumn, insightColumn}) {
        for (QVBoxLayout *stack : column->findChildren<QVBoxLayout *>())
            m_gaps.append({stack, stack->spacing()});
    }
    m_background.followCards(this, QList<QWidget *>(m_cards.cbegin(), m_cards.cend()));

    connect(m_permissionsController, &AppPermissionsController::microphoneStateChanged, this,
            &PermissionsOnboardingView::updateFromController);
    connect(m_permissionsController, &AppPermissionsController::isRequestingMicrophoneAccessChanged, this,
            &PermissionsOnboardingView::updateFromController);
    // Access granted in the sound settings shows when the user comes back.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_permissionsController->refreshMicrophoneState();
    });
    m_permissionsController->refreshMicrophoneState();
    updateFromController();
}

PermissionsOnboardingView::~PermissionsOnboardingView() = default;

qreal PermissionsOnboardingView::setupColumnWidth(qreal width)
{
    return std::clamp(width * 0.54, 520.0, 680.0);
}

void PermissionsOnboardingView::finishAnimation()
{
    if (KavrelCrossFade *fade = KavrelCrossFade::running(this))
        fade->finish();
}

bool PermissionsOnboardingView::isAnimating() const
{
    return KavrelCrossFade::running(this) != nullptr;
}

void PermissionsOnboardingView::resizeEvent(QResizeEvent *event)
{
    // The picture being faded out no longer fits.
    if (event->oldSize() != event->size())
        finishAnimation();
    QWidget::resizeEvent(event);
    m_setupColumn->setFixedWidth(int(std::lround(setupColumnWidth(width()))));
    fitGapsToHeight();
}

void PermissionsOnboardingView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Arriving here, the keyboard continues into the program, as the click on the main button does.
    KavrelArrivalFocus::give(m_openButton);
}

// Below the height the screen is laid out for (where the screen holds the window shorter), the
// margins and the gaps between and inside the cards narrow before any text is cut.
void PermissionsOnboardingView::fitGapsToHeight()
{
    const bool compact = height() < designedHeight;
    if (compact == m_compact)
        return;
    m_compact = compact;
    const int margin = compact ? 16 : 32;
    layout()->setContentsMargins(margin, margin, margin, margin);
    for (const auto &[gapped, spacing] : std::as_const(m_gaps))
        gapped->setSpacing(compact ? spacing / 2 : spacing);
}

void PermissionsOnboardingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QList<QRect> cardAreas;
    for (const OnboardingCard *card : std::as_const(m_cards))
        cardAreas.append(QRect(card->mapTo(this, QPoint(0, 0)), card->size()));
    m_background.paint(painter, *this, cardAreas, [this](QPainter &canvas) {
        QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
        gradient.setColorAt(0, SignInTheme::onboardingStop1.resolve(palette()));
        gradient.setColorAt(0.5, SignInTheme::onboardingStop2.resolve(palette()));
        gradient.setColorAt(1, SignInTheme::onboardingStop3.resolve(palette()));
        canvas.fillRect(rect(), gradient);
        for (const OnboardingCard *card : std::as_const(m_cards))
            card->paintShadow(canvas, this);
    });
}

QWidget *PermissionsOnboardingView::buildSetupColumn()
{
    auto *column = new QWidget(this);
    column->setFixedWidth(int(setupColumnWidth(1120)));
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(24);

    // Hero.
    auto *hero = new QVBoxLayout;
    hero->setSpacing(18);
    auto *heading = new QHBoxLayout;
    heading->setSpacing(16);
    heading->addWidget(new AppTile(column), 0, Qt::AlignVCenter);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(8);
    auto *title = new ThemedLabel(localized(QStringLiteral("Prepare КАВРЕЛ for live capture")), 40, QFont::Bold,
                                  KavrelSystemColors::label, column);
    title->setWordWrap(true);
    titles->addWidget(title);
    // Shown through Qt's own lookup, which the application routes through the same tables.
    auto *subtitle = new ThemedLabel(tr("КАВРЕЛ captures system audio directly, without screen recording. Microphone access "
                                        "is optional for adding your own voice."),
                                     16, QFont::Medium, KavrelSystemColors::secondaryLabel, column);
    subtitle->setWordWrap(true);
    titles->addWidget(subtitle);
    heading->addLayout(titles, 1);
    hero->addLayout(heading);
    auto *badges = new QHBoxLayout;
    badges->setSpacing(12);
    m_progressBadge = new SetupProgressBadge(column);
    badges->addWidget(m_progressBadge);
    badges->addWidget(new SetupStatusBadge(localized(QStringLiteral("Ready to listen")), QStringLiteral("checkmark.seal.fill"),
                                           green, column));
    badges->addStretch(1);
    hero->addLayout(badges);
    layout->addLayout(hero);

    // Microphone.
    m_microphoneCard = new PermissionAccessCard(
        green, QStringLiteral("mic.fill"), QStringLiteral("Optional microphone input"),
        QStringLiteral("Lets КАВРЕЛ add your own voice from the selected microphone when microphone mix-in is enabled."),
        [this] { requestMicrophoneAccess(); }, column);
    m_cards.append(m_microphoneCard);
    layout->addWidget(m_microphoneCard);

    // Footer.
    auto *footer = new QVBoxLayout;
    footer->setSpacing(14);
    m_footerNote = new ThemedLabel(
        localized(QStringLiteral("You can skip this once. КАВРЕЛ will ask for microphone access later only if you enable "
                                 "microphone mix-in.")),
        13, QFont::Medium, KavrelSystemColors::secondaryLabel, column);
    m_footerNote->setWordWrap(true);
    footer->addWidget(m_footerNote);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(14);
    KavrelCapsuleButton *later = continueLaterButton(column);
    later->setObjectName(QStringLiteral("continueLater"));
    connect(later, &QAbstractButton::clicked, this, &PermissionsOnboardingView::finish);
    buttons->addWidget(later);
    buttons->addStretch(1);
    auto *open = SignInButtons::callToAction(QStringLiteral("Open КАВРЕЛ"), QStringLiteral("play.fill"),
                                             SignInTheme::greenButton, column);
    open->setObjectName(QStringLiteral("openKavrel"));
    m_openButton = open;
    connect(open, &QAbstractButton::clicked, this, &PermissionsOnboardingView::finish);
    buttons->addWidget(open);
    footer->addLayout(buttons);
    layout->addLayout(footer);
    layout->addStretch(1);
    return column;
}

QWidget *PermissionsOnboardingView::buildInsightColumn()
{
    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(22);

    // Readiness.
    KavrelDynamicColor readinessAccent = green;
    readinessAccent.light.alpha = readinessAccent.dark.alpha = 0.24;
    auto *readiness = new InsightCard(readinessAccent, column);
    readiness->contentLayout()->setSpacing(18);
    auto *top = new QHBoxLayout;
    top->setSpacing(12);
    SymbolTile::Look seal;
    seal.shape = SymbolTile::Shape::circle;
    seal.side = 48;
    seal.fill = green;
    seal.fillOpacity = 0.15;
    seal.symbolSize = 22;
    seal.symbolColor = green;
    top->addWidget(new SymbolTile(QStringLiteral("checkmark.seal.fill"), seal, readiness), 0, Qt::AlignVCenter);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(new ThemedLabel(localized(QStringLiteral("Ready to listen")), 20, QFont::Bold, KavrelSystemColors::label, readiness));
    m_readinessSubtitle = new ThemedLabel(QString(), 13, QFont::Normal, KavrelSystemColors::secondaryLabel, readiness);
    m_readinessSubtitle->setWordWrap(true);
    texts->addWidget(m_readinessSubtitle);
    top->addLayout(texts, 1);
    readiness->contentLayout()->addLayout(top);
    m_readinessMeter = new SetupReadinessMeter(green, readiness);
    readiness->contentLayout()->addWidget(m_readinessMeter);
    m_readinessDetail = new ThemedLabel(QString(), 14, QFont::Medium, KavrelSystemColors::secondaryLabel, readiness);
    m_readinessDetail->setWordWrap(true);
    readiness->contentLayout()->addWidget(m_readinessDetail);
    m_cards.append(readiness);
    layout->addWidget(readiness);

    // Benefits.
    KavrelDynamicColor benefitsAccent = amber;
    benefitsAccent.light.alpha = benefitsAccent.dark.alpha = 0.2;
    auto *benefits = new InsightCard(benefitsAccent, column);
    benefits->contentLayout()->setSpacing(16);
    benefits->contentLayout()->addWidget(new ThemedLabel(localized(QStringLiteral("What turns on after setup")), 15, QFont::DemiBold,
                                                         KavrelSystemColors::label, benefits));
    benefits->contentLayout()->addWidget(new BenefitRow(green, QStringLiteral("mic.fill"), QStringLiteral("Audio-only system capture"),
        QStringLiteral("КАВРЕЛ listens to system audio without asking for screen recording access."), benefits));
    benefits->contentLayout()->addWidget(new BenefitRow(blue, QStringLiteral("menubar.rectangle"), QStringLiteral("Menu bar control"),
        QStringLiteral("Start and stop listening while КАВРЕЛ stays in the top bar."), benefits));
    benefits->contentLayout()->addWidget(new BenefitRow(amber, QStringLiteral("sparkles"), QStringLiteral("Live translation and assist"),
        QStringLiteral("Once audio is flowing, the rest of the pipeline can summarize, translate, and suggest replies."), benefits));
    m_cards.append(benefits);
    layout->addWidget(benefits);

    // Quick path.
    auto *steps = new InsightCard(std::nullopt, column);
    steps->contentLayout()->setSpacing(14);
    steps->contentLayout()->addWidget(new ThemedLabel(localized(QStringLiteral("Quick path")), 15, QFont::DemiBold,
                                                      KavrelSystemColors::label, steps));
    m_microphoneStep = new StepRow(QStringLiteral("Allow microphone access"),
                                   QStringLiteral("Optional for microphone mix-in and device testing."), steps);
    steps->contentLayout()->addWidget(m_microphoneStep);
    m_cards.append(steps);
    layout->addWidget(steps);
    layout->addStretch(1);
    return column;
}

void PermissionsOnboardingView::updateFromController()
{
    // A new permission state moves the whole screen at once with one spring; the request
    // starting or ending on its own changes only the button, without animation.
    const AppPermissionsController::MicrophoneState state = m_permissionsController->microphoneState();
    if (m_shownState && *m_shownState != state && isVisible())
        KavrelCrossFade::start(this, KavrelSpring(0.34, 0.88));
    m_shownState = state;

    const PermissionsOnboardingContent content = PermissionsOnboardingContent::make(
        m_permissionsController->microphoneState(), m_permissionsController->isRequestingMicrophoneAccess());
    const QStringList percent{QString::number(content.progressPercent)};
    m_progressBadge->setContent(KavrelLocalizationStore::shared().localizedFormat(QStringLiteral("Setup %@%%"), percent),
                                content.progress);
    m_readinessMeter->setProgress(content.progress);
    m_readinessSubtitle->setText(localized(content.readinessSubtitle));
    m_readinessDetail->setText(localized(content.readinessDetail));
    m_footerNote->setVisible(content.showsFooterNote);
    m_microphoneStep->setComplete(content.isQuickPathComplete);

    PermissionAccessCard::Status status;
    status.statusTitle = localized(content.microphoneStatusTitle);
    status.statusTint = kavrelFixed({content.microphoneStatusTint.redF(), content.microphoneStatusTint.greenF(),
                                     content.microphoneStatusTint.blueF(), 1});
    status.actionTitle = content.microphoneActionTitle;
    status.actionIconName = content.microphoneActionIcon;
    status.isActionEnabled = content.isActionEnabled;
    status.isActionInProgress = content.isActionInProgress;
    status.helpText = content.microphoneHelpText;
    m_microphoneCard->setStatus(status);
}

void PermissionsOnboardingView::requestMicrophoneAccess()
{
    QPointer<AppPermissionsController> controller = m_permissionsController;
    spawnTask([controller](CancellationToken) -> QCoro::Task<void> {
        if (!controller)
            throw CancellationError();
        return controller->requestMicrophoneAccess();
    });
}

void PermissionsOnboardingView::finish()
{
    if (m_onContinue)
        m_onContinue();
}

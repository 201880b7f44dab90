#include "screens/widgets/KavrelSidebarView.h"

#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "services/KavrelUpdateController.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelAppearTransition.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/KavrelWorkspaceShellModel.h"
#include "screens/widgets/KavrelAvatarView.h"
#include "screens/widgets/KavrelPaintedWidget.h"
#include "screens/widgets/KavrelScreenPanel.h"
#include "screens/widgets/KavrelScreenSymbols.h"
#include "screens/widgets/KavrelSidebarButton.h"
#include "screens/widgets/KavrelSidebarUpdateButton.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QEvent>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// The column's two forms: roomy as designed, and compact for a short window, without the mark,
// with smaller tiles and narrower gaps.
struct ColumnForm
{
    int margin;        // above and below the column
    int spacing;       // between the mark, the buttons, the Update button and the account panel
    int buttonSpacing; // between the buttons
    int panelPadding;  // above and below the avatar in the account panel
    bool showsMark;
};
constexpr ColumnForm roomyForm{18, 22, 12, 14, true};
constexpr ColumnForm compactForm{8, 6, 4, 8, false};

const ColumnForm &formOf(bool compact)
{
    return compact ? compactForm : roomyForm;
}

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

// The account panel: it opens the account menu on a secondary click or the menu key.
class AccountPanel final : public KavrelScreenPanel
{
    Q_OBJECT

public:
    AccountPanel(KavrelSidebarView *sidebar, const Look &look) : KavrelScreenPanel(look), m_sidebar(sidebar)
    {
        setFocusPolicy(Qt::StrongFocus);
        setContextMenuPolicy(Qt::DefaultContextMenu);
        // A screen reader reads a group holding the avatar, under the account's name.
        KavrelAccessibleFactory::registerWidget(staticMetaObject, QAccessible::Grouping);
        setAccessibleName(localized(QStringLiteral("Account")));
    }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override { m_sidebar->showAccountMenu(event->globalPos()); }

private:
    KavrelSidebarView *m_sidebar;
};

} // namespace

KavrelSidebarView::KavrelSidebarView(Dependencies dependencies, QWidget *parent)
    : QWidget(parent), m_dependencies(std::move(dependencies))
{
    setFixedWidth(columnWidth);
    auto *column = new QVBoxLayout(this);
    m_appMark = makeAppMark();
    column->addWidget(m_appMark);

    auto *buttons = m_buttonColumn = new QVBoxLayout;
    for (KavrelAppSection section : KavrelAppSections::allCases) {
        auto *button = new KavrelSidebarButton(localized(KavrelAppSections::titleKey(section)),
                                               KavrelAppSections::systemImage(section), this);
        connect(button, &QAbstractButton::clicked, this, [this, section] {
            if (m_dependencies.model)
                m_dependencies.model->selectSection(section);
        });
        buttons->addWidget(button);
        m_sectionButtons.append(button);
    }
    m_settingsButton = new KavrelSidebarButton(localized(QStringLiteral("Settings")), QStringLiteral("gearshape"), this);
    connect(m_settingsButton, &QAbstractButton::clicked, this, [this] {
        if (m_dependencies.openSettings)
            m_dependencies.openSettings();
    });
    buttons->addWidget(m_settingsButton);
    column->addLayout(buttons);
    column->addStretch(1);

    m_updateButton = new KavrelSidebarUpdateButton(this);
    connect(m_updateButton, &QAbstractButton::clicked, this, [this] {
        if (m_dependencies.updateController)
            m_dependencies.updateController->updaterController().checkForUpdates();
    });
    auto *updateSlot = new QVBoxLayout;
    updateSlot->setContentsMargins(10, 0, 10, 0);
    updateSlot->addWidget(m_updateButton);
    column->addLayout(updateSlot);
    // It fades in while rising from below, and leaves the same way.
    m_updateTransition = new KavrelAppearTransition(m_updateButton, Qt::BottomEdge, 350, QEasingCurve::InOutQuad);

    m_accountPanel = makeAccountPanel();
    column->addWidget(m_accountPanel);

    if (m_dependencies.model)
        connect(m_dependencies.model, &KavrelWorkspaceShellModel::selectedSectionChanged, this, &KavrelSidebarView::followSelection);
    if (m_dependencies.updateController)
        connect(m_dependencies.updateController, &KavrelUpdateController::availableUpdateDisplayVersionChanged, this,
                &KavrelSidebarView::followUpdate);
    if (m_dependencies.authStore)
        connect(m_dependencies.authStore, &AuthSessionStore::sessionChanged, this, &KavrelSidebarView::followUser);
    setCompact(false);
    followSelection();
    followUpdate();
    followUser();
}

QWidget *KavrelSidebarView::makeAppMark()
{
    auto *mark = new KavrelPaintedWidget(QSize(columnWidth - 28, 58 + 4 + 8), [](QPainter &painter, const QRectF &bounds,
                                                                        const QPalette &, qreal) {
        const QRectF square(bounds.center().x() - 29, 4, 58, 58);
        const QPainterPath shape = KavrelPainting::continuousRoundedRect(square, 18);
        KavrelPainting::drawSoftShadow(painter, shape, QColor(0, 0, 0, 31), 14, QPointF(0, 8));
        const QIcon icon = QApplication::windowIcon();
        if (!icon.isNull()) {
            painter.save();
            painter.setClipPath(shape);
            icon.paint(&painter, square.toRect());
            painter.restore();
            return;
        }
        // Without an installed icon: the program's mark, a waveform on the brand gradient.
        KavrelPainting::fillGradient(painter, shape, QColor::fromRgbF(0.91f, 0.23f, 0.18f), QColor::fromRgbF(0.25f, 0.45f, 0.95f));
        KavrelScreenSymbols::paint(painter, square.adjusted(14, 14, -14, -14), QStringLiteral("waveform"), Qt::white);
    });
    mark->setObjectName(QStringLiteral("appMark"));
    return mark;
}

QWidget *KavrelSidebarView::makeAccountPanel()
{
    KavrelScreenPanel::Look look;
    look.radius = 28;
    look.fill = KavrelShellTheme::sidebarPanelFill;
    look.stroke = KavrelShellTheme::sidebarPanelBorder;
    auto *panel = new AccountPanel(this, look);
    panel->setObjectName(QStringLiteral("accountPanel"));
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(10, 14, 10, 14);
    layout->setSpacing(10);
    KavrelAvatarView::Look avatarLook;
    avatarLook.discSize = 62;
    avatarLook.pictureSize = 54;
    avatarLook.initialsPixelSize = 18;
    avatarLook.surface = KavrelShellTheme::avatarSurface;
    avatarLook.ring = KavrelShellTheme::avatarBorder;
    m_avatar = new KavrelAvatarView(m_dependencies.avatarLoader, avatarLook, panel);
    layout->addWidget(m_avatar, 0, Qt::AlignHCenter);
    return panel;
}

void KavrelSidebarView::showAccountMenu(const QPoint &globalPosition)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *signOut = menu->addAction(localized(QStringLiteral("Sign out")));
    signOut->setObjectName(QStringLiteral("signOutAction"));
    QPointer<AuthSessionStore> store = m_dependencies.authStore;
    connect(signOut, &QAction::triggered, this, [store] {
        if (store)
            store->signOut();
    });
    if (m_dependencies.quit) {
        QAction *quit = menu->addAction(localized(QStringLiteral("Quit КАВРЕЛ completely")));
        quit->setObjectName(QStringLiteral("quitAction"));
        quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        connect(quit, &QAction::triggered, this, [quit = m_dependencies.quit] { quit(); });
    }
    menu->popup(globalPosition);
}

void KavrelSidebarView::followSelection()
{
    const KavrelAppSection selected = m_dependencies.model ? m_dependencies.model->selectedSection() : KavrelAppSection::workspace;
    for (qsizetype i = 0; i < m_sectionButtons.size(); ++i)
        m_sectionButtons.at(i)->setSelected(KavrelAppSections::allCases.at(size_t(i)) == selected);
}

void KavrelSidebarView::followUpdate()
{
    const bool known = m_dependencies.updateController && m_dependencies.updateController->availableUpdateDisplayVersion();
    m_updateTransition->setShown(known);
}

void KavrelSidebarView::followUser()
{
    const std::optional<AuthenticatedUser> user =
        m_dependencies.authStore ? m_dependencies.authStore->currentUser() : std::nullopt;
    m_accountPanel->setVisible(user.has_value());
    if (user)
        m_avatar->setAvatar(user->initials(), user->avatarURL);
}

bool KavrelSidebarView::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)
        fitColumn();
    return handled;
}

int KavrelSidebarView::heightNeeded(bool compact) const
{
    // Reckoned from the parts, not read from the layout: a part's new minimum reaches the
    // column's layout only a turn of the event loop later, and a choice made from a stale
    // figure is undone by the next one, for ever.
    const ColumnForm &form = formOf(compact);
    QList<int> parts;
    if (form.showsMark)
        parts.append(m_appMark->height());
    int buttons = form.buttonSpacing * int(m_sectionButtons.size());
    for (const KavrelSidebarButton *button : m_sectionButtons)
        buttons += button->heightIn(compact);
    parts.append(buttons + m_settingsButton->heightIn(compact));
    if (m_updateTransition->isShown() || !m_updateButton->isHidden())
        parts.append(m_updateButton->height());
    if (!m_accountPanel->isHidden())
        parts.append(2 * form.panelPadding + m_avatar->height());
    int height = 2 * form.margin + form.spacing * int(parts.size() - 1);
    for (const int part : std::as_const(parts))
        height += part;
    return height;
}

// The column takes the window's height, whatever its own needs (the window may be held to a
// short screen): there the mark is left out and the gaps narrow, so every button keeps its
// whole caption and the account panel stays in sight. The choice follows the height alone; on
// the screen, a compact column needs a margin more before it turns roomy, so that a height near
// the border keeps its form. Shown anew, it takes the roomy form wherever that fits.
void KavrelSidebarView::fitColumn()
{
    const int roomyNeed = heightNeeded(false);
    const bool compact = height() < roomyNeed + (m_compact && isVisible() ? formMargin : 0);
    if (compact != m_compact)
        setCompact(compact);
}

void KavrelSidebarView::setCompact(bool compact)
{
    const bool changed = compact != m_compact;
    m_compact = compact;
    const ColumnForm &form = formOf(compact);
    auto *column = static_cast<QVBoxLayout *>(layout());
    column->setContentsMargins(14, form.margin, 14, form.margin);
    column->setSpacing(form.spacing);
    m_buttonColumn->setSpacing(form.buttonSpacing);
    m_appMark->setVisible(form.showsMark);
    for (KavrelSidebarButton *button : std::as_const(m_sectionButtons))
        button->setCompact(compact);
    m_settingsButton->setCompact(compact);
    if (m_accountPanel && m_accountPanel->layout()) {
        m_accountPanel->layout()->setContentsMargins(10, form.panelPadding, 10, form.panelPadding);
        m_accountPanel->updateGeometry();
    }
    column->invalidate();
    if (changed)
        Q_EMIT compactChanged(compact);
}

void KavrelSidebarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPainterPath all;
    all.addRect(QRectF(rect()));
    KavrelPainting::fillGradient(painter, all, KavrelShellTheme::sidebarTop.resolve(palette()),
                                 KavrelShellTheme::sidebarBottom.resolve(palette()), true);
    painter.fillRect(QRectF(width() - 1, 0, 1, height()), KavrelShellTheme::sidebarDivider.resolve(palette()));
}

#include "KavrelSidebarView.moc"

#include "screens/widgets/KavrelSettingsView.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelScrollPage.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "kit/widgets/KavrelSwitch.h"
#include "screens/KavrelSettingsModel.h"
#include "screens/widgets/KavrelScreenLabel.h"
#include "screens/widgets/KavrelScreenPanel.h"
#include "screens/widgets/KavrelScrollFocus.h"
#include "screens/widgets/KavrelSettingsUpdateRow.h"
#include "screens/widgets/KavrelSymbolView.h"
#include "screens/widgets/KavrelThemeOptionButton.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

// The settings' switch: the knob slides, the track turns from the border colour to the accent.
KavrelSwitch::Look switchLook()
{
    KavrelSwitch::Look look;
    look.offTrack = KavrelSettingsTheme::controlBorder;
    look.offOpacity = 1;
    look.onTrack = KavrelSettingsTheme::accent;
    look.slideMilliseconds = 140;
    return look;
}

KavrelScreenPanel::Look controlLook(qreal radius)
{
    KavrelScreenPanel::Look look;
    look.radius = radius;
    look.fill = KavrelSettingsTheme::controlFill;
    look.stroke = KavrelSettingsTheme::controlBorder;
    return look;
}

} // namespace

KavrelSettingsView::KavrelSettingsView(KavrelSettingsModel &model, std::function<void()> checkForUpdates, QWidget *parent)
    : QWidget(parent), m_model(model), m_checkForUpdates(std::move(checkForUpdates))
{
    setWindowTitle(localized(QStringLiteral("Settings")));
    setObjectName(QString::fromLatin1(windowIdentifier));
    KavrelScreenFit::setMinimumSize(this, QSize(560, 520));

    m_scrollArea = KavrelScrollPage::install(this);

    auto *page = new QWidget;
    page->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(28, 40, 28, 28);
    column->setSpacing(20);
    m_title =
        new KavrelScreenLabel(localized(QStringLiteral("Settings")), 34, QFont::Bold, KavrelSettingsTheme::primaryText);
    // Opened by a key in the main window, the window holds that key's next press on its heading,
    // not on a theme or a switch: as it opens and as it is brought forward again.
    KavrelArrivalFocus::setLanding(m_title);
    column->addWidget(m_title);
    auto *panels = new QVBoxLayout;
    panels->setSpacing(16);
    panels->addWidget(makePanel(QStringLiteral("Theme"), makeThemeSelector()));
    panels->addWidget(makePanel(QStringLiteral("Mini Window"), makeMiniWindowRow()));
    m_updateRow = new KavrelSettingsUpdateRow;
    connect(m_updateRow, &QAbstractButton::clicked, this, [this] {
        if (m_checkForUpdates)
            m_checkForUpdates();
    });
    panels->addWidget(makePanel(QStringLiteral("Updates"), m_updateRow));
    column->addLayout(panels);
    column->addStretch(1);
    KavrelScrollPage::setPage(m_scrollArea, page);
    KavrelScrollFocus::follow(m_scrollArea);

    // A settings window on this desktop closes with Escape, and as every window with Ctrl+W.
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this] { window()->close(); });
    }

    connect(&m_model, &KavrelSettingsModel::appearanceModeChanged, this, &KavrelSettingsView::followModel);
    connect(&m_model, &KavrelSettingsModel::miniWindowEnabledChanged, this, &KavrelSettingsView::followModel);
    followModel();
}

QWidget *KavrelSettingsView::makePanel(const QString &title, QWidget *content)
{
    KavrelScreenPanel::Look look;
    look.radius = 22;
    look.fill = KavrelSettingsTheme::panelFill;
    look.stroke = KavrelSettingsTheme::panelBorder;
    auto *panel = new KavrelScreenPanel(look);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(14);
    layout->addWidget(new KavrelScreenLabel(localized(title), 17, QFont::Bold, KavrelSettingsTheme::primaryText));
    layout->addWidget(content);
    return panel;
}

QWidget *KavrelSettingsView::makeThemeSelector()
{
    auto *selector = new KavrelScreenPanel(controlLook(20));
    selector->setFixedHeight(52);
    auto *row = new QHBoxLayout(selector);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(0);
    for (KavrelAppearanceMode mode : KavrelAppearance::allCases) {
        auto *option = new KavrelThemeOptionButton(mode, selector);
        connect(option, &QAbstractButton::clicked, this, [this, mode] { m_model.setAppearanceMode(mode); });
        row->addWidget(option);
        m_themeOptions.append(option);
    }
    return selector;
}

QWidget *KavrelSettingsView::makeMiniWindowRow()
{
    auto *tile = new KavrelScreenPanel(controlLook(18));
    tile->setMinimumHeight(58);
    auto *row = new QHBoxLayout(tile);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);
    auto *symbolSlot = new QWidget;
    symbolSlot->setFixedWidth(24);
    auto *symbolLayout = new QHBoxLayout(symbolSlot);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    symbolLayout->addWidget(new KavrelSymbolView(QStringLiteral("macwindow.on.rectangle"), 17, KavrelSettingsTheme::secondaryText));
    row->addWidget(symbolSlot);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    const QString title = localized(QStringLiteral("Show mini window"));
    texts->addWidget(new KavrelScreenLabel(title, 14, QFont::DemiBold, KavrelSettingsTheme::primaryText));
    auto *detail = new KavrelScreenLabel(
        localized(QStringLiteral("Automatically show the floating listening window while a session is active.")), 12,
        QFont::Medium, KavrelSettingsTheme::secondaryText);
    detail->setWordWrap(true);
    texts->addWidget(detail);
    row->addLayout(texts, 1);
    m_miniWindowSwitch = new KavrelSwitch(switchLook());
    m_miniWindowSwitch->setAccessibleName(title);
    connect(m_miniWindowSwitch, &QAbstractButton::toggled, this, [this](bool on) { m_model.setMiniWindowEnabled(on); });
    row->addWidget(m_miniWindowSwitch);
    return tile;
}

void KavrelSettingsView::followModel()
{
    for (KavrelThemeOptionButton *option : std::as_const(m_themeOptions))
        option->setSelected(option->mode() == m_model.appearanceMode());
    if (m_miniWindowSwitch->isChecked() != m_model.isMiniWindowEnabled()) {
        const QSignalBlocker blocker(m_miniWindowSwitch);
        m_miniWindowSwitch->setChecked(m_model.isMiniWindowEnabled());
        m_miniWindowSwitch->update();
    }
}

void KavrelSettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    KavrelArrivalFocus::give(m_title);
}

void KavrelSettingsView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPainterPath all;
    all.addRect(QRectF(rect()));
    KavrelPainting::fillGradient(painter, all, KavrelSettingsTheme::backgroundTop.resolve(palette()),
                                 KavrelSettingsTheme::backgroundBottom.resolve(palette()));
}

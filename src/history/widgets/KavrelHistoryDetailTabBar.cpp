#include "history/widgets/KavrelHistoryDetailTabBar.h"

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"
#include "history/widgets/KavrelHistoryStyle.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

constexpr int inset = 4;
constexpr int spacing = 4;
constexpr int buttonHeight = 40;

} // namespace

KavrelHistoryDetailTabBar::KavrelHistoryDetailTabBar(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setFont(KavrelHistoryStyle::font(15, QFont::DemiBold));
    // Tab reaches the bar; the arrows pick the tab beside the selected one.
    setFocusPolicy(Qt::StrongFocus);
    // A screen reader hears the bar's name and, as its description, the tab it shows.
    KavrelAccessibleFactory::registerWidget(staticMetaObject, QAccessible::PageTabList);
    setAccessibleName(KavrelHistoryStyle::localized(QStringLiteral("Session sections")));
    setAccessibleDescription(KavrelHistoryStyle::localized(KavrelHistoryDetailTabs::titleKey(m_selection)));
}

void KavrelHistoryDetailTabBar::setSelection(KavrelHistoryDetailTab tab)
{
    if (tab == m_selection)
        return;
    m_selection = tab;
    setAccessibleDescription(KavrelHistoryStyle::localized(KavrelHistoryDetailTabs::titleKey(tab)));
    update();
    announceSelectedTab(this);
}

int KavrelHistoryDetailTabBar::tabCount() const
{
    return int(KavrelHistoryDetailTabs::allCases.size());
}

QString KavrelHistoryDetailTabBar::tabName(int index) const
{
    if (index < 0 || index >= tabCount())
        return QString();
    return KavrelHistoryStyle::localized(KavrelHistoryDetailTabs::titleKey(KavrelHistoryDetailTabs::allCases[std::size_t(index)]));
}

QRect KavrelHistoryDetailTabBar::tabArea(int index) const
{
    return index >= 0 && index < tabCount() ? buttonRect(KavrelHistoryDetailTabs::allCases[std::size_t(index)]) : QRect();
}

void KavrelHistoryDetailTabBar::pickTab(int index)
{
    if (index >= 0 && index < tabCount())
        Q_EMIT tabPressed(KavrelHistoryDetailTabs::allCases[std::size_t(index)]);
}

QSize KavrelHistoryDetailTabBar::sizeHint() const
{
    return QSize(480, buttonHeight + 2 * inset);
}

QRect KavrelHistoryDetailTabBar::buttonRect(KavrelHistoryDetailTab tab) const
{
    const int count = int(KavrelHistoryDetailTabs::allCases.size());
    const int index = int(tab);
    const double width = (double(this->width()) - 2 * inset - (count - 1) * spacing) / count;
    const int left = int(inset + index * (width + spacing));
    return QRect(left, inset, int(width), buttonHeight);
}

void KavrelHistoryDetailTabBar::paintEvent(QPaintEvent *)
{
    namespace Theme = KavrelHistoryTheme;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    KavrelPainting::fillAndStroke(painter,
                                  KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 18),
                                  Theme::elevatedFill.resolve(palette()), Theme::border.resolve(palette()));
    const QFontMetricsF metrics(font());
    for (KavrelHistoryDetailTab tab : KavrelHistoryDetailTabs::allCases) {
        const QRectF button = buttonRect(tab);
        const bool selected = tab == m_selection;
        if (selected) {
            KavrelPainting::fillAndStroke(painter,
                                          KavrelPainting::continuousRoundedRect(button.adjusted(0.5, 0.5, -0.5, -0.5), 14),
                                          Theme::cardFill.resolve(palette()), Theme::border.resolve(palette()));
        }
        if (selected)
            KavrelFocusRing::paint(painter, this, KavrelPainting::continuousRoundedRect(button.adjusted(-1, -1, 1, 1), 15),
                                   Theme::elevatedFill.resolve(palette()));
        const QColor color = (selected ? Theme::primaryText : Theme::secondaryText).resolve(palette());
        const QString title = KavrelHistoryStyle::localized(KavrelHistoryDetailTabs::titleKey(tab));
        const double symbolSide = 15;
        const double textWidth = metrics.horizontalAdvance(title);
        double x = button.center().x() - (symbolSide + 7 + textWidth) / 2;
        KavrelSymbols::paint(painter, QRectF(x, button.center().y() - symbolSide / 2, symbolSide, symbolSide),
                             KavrelHistoryDetailTabs::iconName(tab), color);
        x += symbolSide + 7;
        painter.setPen(color);
        painter.setFont(font());
        painter.drawText(QRectF(x, button.top(), textWidth + 1, button.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
}

void KavrelHistoryDetailTabBar::mouseReleaseEvent(QMouseEvent *event)
{
    for (KavrelHistoryDetailTab tab : KavrelHistoryDetailTabs::allCases) {
        if (buttonRect(tab).contains(event->position().toPoint())) {
            Q_EMIT tabPressed(tab);
            return;
        }
    }
}

void KavrelHistoryDetailTabBar::keyPressEvent(QKeyEvent *event)
{
    const auto &tabs = KavrelHistoryDetailTabs::allCases;
    const int count = int(tabs.size());
    const int index = int(m_selection);
    int target = -1;
    switch (event->key()) {
    case Qt::Key_Left:
        target = index - 1;
        break;
    case Qt::Key_Right:
        target = index + 1;
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = count - 1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (target >= 0 && target < count && target != index)
        Q_EMIT tabPressed(tabs[std::size_t(target)]);
    event->accept();
}

void KavrelHistoryDetailTabBar::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
    keyboardCameTo(this);
}

void KavrelHistoryDetailTabBar::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

bool KavrelHistoryDetailTabBar::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        for (KavrelHistoryDetailTab tab : KavrelHistoryDetailTabs::allCases) {
            if (buttonRect(tab).contains(help->pos())) {
                QToolTip::showText(help->globalPos(), KavrelHistoryStyle::localized(KavrelHistoryDetailTabs::titleKey(tab)), this);
                return true;
            }
        }
    }
    return QWidget::event(event);
}

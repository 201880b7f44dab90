#include "history/widgets/KavrelHistoryBlockList.h"

#include "history/widgets/KavrelHistoryComponents.h"
#include "kit/widgets/KavrelPill.h"

#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <limits>

KavrelHistoryBlockList::KavrelHistoryBlockList(QList<Block> blocks, QWidget *parent)
    : QWidget(parent), m_blocks(std::move(blocks)), m_rows(size_t(m_blocks.size()), nullptr)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QWidget *KavrelHistoryBlockList::builtRow(int index) const
{
    return index >= 0 && index < blockCount() ? m_rows[size_t(index)] : nullptr;
}

int KavrelHistoryBlockList::builtRowCount() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](QWidget *row) { return row != nullptr; }));
}

const std::vector<int> &KavrelHistoryBlockList::offsets(int width) const
{
    const auto known = std::find_if(m_measured.begin(), m_measured.end(),
                                     [width](const Measured &measured) { return measured.width == width; });
    if (known != m_measured.end())
        return known->offsets;
    if (m_measured.size() >= 4)
        m_measured.erase(m_measured.begin());
    std::vector<int> top(size_t(m_blocks.size()) + 1, 0);
    m_fits.resize(size_t(m_blocks.size()));
    int y = 0;
    for (qsizetype i = 0; i < m_blocks.size(); ++i) {
        top[size_t(i)] = y;
        Fit &fit = m_fits[size_t(i)];
        if (width > fit.width || width < fit.narrowest) {
            bool wrapped = false;
            fit.height = KavrelHistoryComponents::blockRowHeight(m_blocks[i].text, width, &fit.narrowest, &wrapped);
            fit.width = wrapped ? width : std::numeric_limits<int>::max();
        }
        y += fit.height + spacing;
    }
    top.back() = m_blocks.isEmpty() ? 0 : y - spacing;
    m_measured.push_back({width, std::move(top)});
    return m_measured.back().offsets;
}

int KavrelHistoryBlockList::heightForWidth(int width) const
{
    // Layouts ask at passing widths before the list is on screen; measuring thousands of blocks
    // for each would cost more than the showing. Until then a block counts as one line of text,
    // and the list asks for a new layout when it shows.
    const bool measured = std::any_of(m_measured.begin(), m_measured.end(),
                                      [width](const Measured &known) { return known.width == width; });
    if (!isVisible() && !measured)
        return blockCount() * (KavrelHistoryComponents::blockRowHeight(QStringLiteral(" "), width) + spacing);
    return offsets(width).back();
}

QSize KavrelHistoryBlockList::sizeHint() const
{
    const int width = this->width() > 0 ? this->width() : 480;
    return QSize(width, heightForWidth(width));
}

QSize KavrelHistoryBlockList::minimumSizeHint() const
{
    return QSize(0, 0);
}

void KavrelHistoryBlockList::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    buildVisibleRows();
}

void KavrelHistoryBlockList::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    followScrollArea();
    updateGeometry();
    buildVisibleRows();
}

void KavrelHistoryBlockList::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    buildVisibleRows();
}

void KavrelHistoryBlockList::followScrollArea()
{
    if (m_scrollArea)
        return;
    for (QWidget *ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(ancestor)) {
            m_scrollArea = area;
            connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, &KavrelHistoryBlockList::buildVisibleRows);
            connect(area->verticalScrollBar(), &QScrollBar::rangeChanged, this, &KavrelHistoryBlockList::buildVisibleRows);
            return;
        }
    }
}

void KavrelHistoryBlockList::buildVisibleRows()
{
    // Nothing is built before the list is on screen, where it knows what is in sight.
    if (m_blocks.isEmpty() || width() <= 0 || height() <= 0 || !isVisible())
        return;
    followScrollArea();
    // In sight, and half a screenful either side so that scrolling finds cards already there.
    QRect sight = rect();
    if (m_scrollArea && m_scrollArea->widget() && m_scrollArea->widget()->isAncestorOf(this)) {
        const QWidget *viewport = m_scrollArea->viewport();
        const QRect shown(mapFrom(m_scrollArea->widget(), -m_scrollArea->widget()->pos()), viewport->size());
        sight = shown.adjusted(0, -viewport->height() / 2, 0, viewport->height() / 2) & rect();
    }
    const std::vector<int> &top = offsets(width());
    const int count = blockCount();
    int first = count;
    int last = -1;
    if (!sight.isEmpty()) {
        first = int(std::upper_bound(top.begin(), top.begin() + count, sight.top()) - top.begin()) - 1;
        first = std::max(first, 0);
        last = int(std::lower_bound(top.begin(), top.begin() + count, sight.bottom() + 1) - top.begin()) - 1;
    }
    for (int i = 0; i < count; ++i) {
        QWidget *&row = m_rows[size_t(i)];
        if (i < first || i > last) {
            delete row;
            row = nullptr;
            continue;
        }
        if (!row) {
            QList<QWidget *> pills;
            for (const auto &[title, symbol] : m_blocks[i].pills)
                pills.append(KavrelHistoryComponents::metaPill(title, symbol));
            row = KavrelHistoryComponents::blockRow(pills, m_blocks[i].text);
            row->setParent(this);
            row->show();
        }
        row->setGeometry(0, top[size_t(i)], width(), top[size_t(i) + 1] - top[size_t(i)] - (i + 1 < count ? spacing : 0));
    }
}

#include "history/widgets/KavrelHistoryBlockList.h"

#include "history/widgets/KavrelHistoryComponents.h"
#include "kit/widgets/KavrelPill.h"

#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

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
    if (width != m_offsetsWidth) {
        m_offsetsWidth = width;
        m_offsets.assign(size_t(m_blocks.size()) + 1, 0);
        int top = 0;
        for (qsizetype i = 0; i < m_blocks.size(); ++i) {
            m_offsets[size_t(i)] = top;
            top += KavrelHistoryComponents::blockRowHeight(m_blocks[i].text, width) + spacing;
        }
        m_offsets.back() = m_blocks.isEmpty() ? 0 : top - spacing;
    }
    return m_offsets;
}

int KavrelHistoryBlockList::heightForWidth(int width) const
{
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
    if (m_blocks.isEmpty() || width() <= 0 || height() <= 0)
        return;
    // In sight, and a screenful either side so that scrolling finds cards already there.
    QRect sight = rect();
    if (m_scrollArea && m_scrollArea->widget() && m_scrollArea->widget()->isAncestorOf(this)) {
        const QWidget *viewport = m_scrollArea->viewport();
        const QRect shown(mapFrom(m_scrollArea->widget(), -m_scrollArea->widget()->pos()), viewport->size());
        sight = shown.adjusted(0, -viewport->height(), 0, viewport->height()) & rect();
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

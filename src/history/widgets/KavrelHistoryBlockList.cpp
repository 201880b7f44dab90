#include "history/widgets/KavrelHistoryBlockList.h"

#include "history/widgets/KavrelHistoryComponents.h"
#include "kit/widgets/KavrelPill.h"

#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <limits>

std::vector<std::shared_ptr<KavrelHistoryBlockList::Measurements>> &KavrelHistoryBlockList::keptMeasurements()
{
    static std::vector<std::shared_ptr<Measurements>> kept;
    return kept;
}

KavrelHistoryBlockList::KavrelHistoryBlockList(QList<Block> blocks, QWidget *parent)
    : QWidget(parent), m_blocks(std::move(blocks)), m_rows(size_t(m_blocks.size()), nullptr)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    // One stop of Tab for the whole meeting, read line by line.
    setFocusPolicy(Qt::StrongFocus);
    QStringList texts;
    texts.reserve(m_blocks.size());
    for (const Block &block : std::as_const(m_blocks)) {
        texts.append(block.text);
        QStringList titles;
        for (const auto &pill : block.pills)
            titles.append(pill.first);
        const QString line =
            titles.isEmpty() ? block.text : titles.join(QStringLiteral(" · ")) + QStringLiteral(": ") + block.text;
        if (!m_readableStarts.empty())
            m_readable += QLatin1Char('\n');
        m_readableStarts.push_back(int(m_readable.size()));
        m_readable += line;
    }
    const QString fontKey = KavrelHistoryComponents::blockTextFont().key();
    auto &kept = keptMeasurements();
    for (const std::shared_ptr<Measurements> &known : kept) {
        if (known->fontKey == fontKey && known->texts == texts) {
            m_measurements = known;
            break;
        }
    }
    if (!m_measurements) {
        m_measurements = std::make_shared<Measurements>();
        m_measurements->fontKey = fontKey;
        m_measurements->texts = std::move(texts);
        m_measurements->fits.resize(size_t(m_blocks.size()));
        // The transcript and the translation of the meeting shown.
        if (kept.size() >= 2)
            kept.erase(kept.begin());
        kept.push_back(m_measurements);
    }
}

QWidget *KavrelHistoryBlockList::builtRow(int index) const
{
    return index >= 0 && index < blockCount() ? m_rows[size_t(index)] : nullptr;
}

int KavrelHistoryBlockList::builtRowCount() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](QWidget *row) { return row != nullptr; }));
}

bool KavrelHistoryBlockList::isMeasured(int width) const
{
    const std::vector<Measured> &measured = m_measurements->measured;
    return std::any_of(measured.begin(), measured.end(), [width](const Measured &known) { return known.width == width; });
}

const std::vector<int> &KavrelHistoryBlockList::offsets(int width) const
{
    std::vector<Measured> &measured = m_measurements->measured;
    const auto known = std::find_if(measured.begin(), measured.end(),
                                    [width](const Measured &entry) { return entry.width == width; });
    if (known != measured.end())
        return known->offsets;
    if (measured.size() >= 4)
        measured.erase(measured.begin());
    std::vector<int> top(size_t(m_blocks.size()) + 1, 0);
    int y = 0;
    bool laidOut = false;
    for (qsizetype i = 0; i < m_blocks.size(); ++i) {
        top[size_t(i)] = y;
        Fit &fit = m_measurements->fits[size_t(i)];
        if (width > fit.width || width < fit.narrowest) {
            bool wrapped = false;
            fit.height = KavrelHistoryComponents::blockRowHeight(m_blocks[i].text, width, &fit.narrowest, &wrapped);
            fit.width = wrapped ? width : std::numeric_limits<int>::max();
            laidOut = true;
        }
        y += fit.height + spacing;
    }
    if (laidOut)
        ++m_measuringPasses;
    top.back() = m_blocks.isEmpty() ? 0 : y - spacing;
    measured.push_back({width, std::move(top)});
    return measured.back().offsets;
}

int KavrelHistoryBlockList::estimatedHeight(int width) const
{
    for (const auto &[known, height] : m_estimates) {
        if (known == width)
            return height;
    }
    // A block measured at a width that keeps its line breaks counts as measured.
    const KavrelHistoryComponents::BlockTextUnits units = KavrelHistoryComponents::blockTextUnits();
    int y = 0;
    for (qsizetype i = 0; i < m_blocks.size(); ++i) {
        const Fit &fit = m_measurements->fits[size_t(i)];
        if (width <= fit.width && width >= fit.narrowest)
            y += fit.height + spacing;
        else
            y += KavrelHistoryComponents::blockRowHeightEstimate(m_blocks[i].text, width, units) + spacing;
    }
    const int height = m_blocks.isEmpty() ? 0 : y - spacing;
    if (m_estimates.size() >= 4)
        m_estimates.erase(m_estimates.begin());
    m_estimates.emplace_back(width, height);
    return height;
}

int KavrelHistoryBlockList::heightForWidth(int width) const
{
    // Measuring thousands of blocks at every width a layout passes through would cost more than
    // the showing: a width not measured yet gets an estimate. The list measures the width it
    // settles at and asks for a new layout when the estimate it was placed by was wrong.
    if (isMeasured(width))
        return offsets(width).back();
    return estimatedHeight(width);
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

void KavrelHistoryBlockList::settleLater(bool again)
{
    if (m_settling && !again)
        return;
    m_settling = true;
    QMetaObject::invokeMethod(
        this,
        [this, again] {
            // A scroll area shows or hides its bar on a turn of its own and then gives the list
            // another width: measuring the one it has now would be wasted.
            if (!again && scrollBarAboutToChange()) {
                settleLater(true);
                return;
            }
            m_settling = false;
            settle();
        },
        Qt::QueuedConnection);
}

bool KavrelHistoryBlockList::scrollBarAboutToChange() const
{
    if (!m_scrollArea || m_scrollArea->verticalScrollBarPolicy() != Qt::ScrollBarAsNeeded)
        return false;
    const QScrollBar *bar = m_scrollArea->verticalScrollBar();
    return (bar->maximum() > bar->minimum()) != bar->isVisibleTo(m_scrollArea);
}

void KavrelHistoryBlockList::settle()
{
    if (!isVisible() || width() <= 0)
        return;
    const int measured = offsets(width()).back();
    // Estimates from now on take in what was measured.
    m_estimates.clear();
    if (measured != height())
        updateGeometry(); // placed by an estimate
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
    if (!isMeasured(width())) {
        settleLater();
        return;
    }
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

void KavrelHistoryBlockList::keyPressEvent(QKeyEvent *event)
{
    if (!readKey(event))
        QWidget::keyPressEvent(event);
}

void KavrelHistoryBlockList::caretMoved()
{
    if (m_blocks.isEmpty() || !m_scrollArea || !m_scrollArea->widget() || !isMeasured(width()))
        return;
    const auto after = std::upper_bound(m_readableStarts.begin(), m_readableStarts.end(), readingCaret());
    const int block = std::max(0, int(after - m_readableStarts.begin()) - 1);
    const std::vector<int> &top = offsets(width());
    const int height = top[size_t(block) + 1] - top[size_t(block)];
    const QPoint place = mapTo(m_scrollArea->widget(), QPoint(0, top[size_t(block)] + height / 2));
    m_scrollArea->ensureVisible(place.x(), place.y(), 0, height / 2 + spacing);
}

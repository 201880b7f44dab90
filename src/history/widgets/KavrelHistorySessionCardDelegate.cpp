#include "history/widgets/KavrelHistorySessionCardDelegate.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"
#include "base/Text.h"
#include "history/KavrelHistoryLabels.h"
#include "history/KavrelHistorySessionListModel.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryCardFrame.h"
#include "history/widgets/KavrelHistoryStyle.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <cmath>

namespace Labels = KavrelHistoryLabels;
namespace Style = KavrelHistoryStyle;
namespace Theme = KavrelHistoryTheme;

namespace {

constexpr int padding = 18;
constexpr int titleRowHeight = 34;
constexpr int pillHeight = 30;
constexpr int rowSpacing = 14;
constexpr int buttonHeight = 42;
constexpr int previewLines = 2;

struct PillLook
{
    KavrelDynamicColor fill;
    double fillOpacity = 1;
    KavrelDynamicColor stroke;
    double strokeOpacity = 1;
    KavrelDynamicColor foreground;
    double horizontalPadding = 10;
};

PillLook metaLook()
{
    return PillLook{Theme::elevatedFill, 1, Theme::border, 1, Theme::secondaryText, 10};
}

PillLook statusLook(KavrelDynamicColor tint)
{
    return PillLook{tint, 0.1, tint, 0.22, tint, 12};
}

QFont pillFont()
{
    return Style::font(13, QFont::Medium);
}

double pillWidth(const QString &text, const QString &symbol, double horizontalPadding)
{
    const QFontMetricsF metrics(pillFont());
    double width = 2 * horizontalPadding + metrics.horizontalAdvance(text);
    if (!symbol.isEmpty())
        width += pillHeight * 0.5 + 5;
    return std::ceil(width);
}

// Paints one capsule at x and returns the x after it and its gap.
double paintPill(QPainter &painter, const QPalette &palette, double x, double y, const QString &text,
                 const QString &symbol, const PillLook &look)
{
    const double width = pillWidth(text, symbol, look.horizontalPadding);
    const QRectF area(x + 0.5, y + 0.5, width - 1, pillHeight - 1);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(area), look.fill.resolve(palette, look.fillOpacity),
                                  look.stroke.resolve(palette, look.strokeOpacity));
    const QColor foreground = look.foreground.resolve(palette);
    double textX = x + look.horizontalPadding;
    if (!symbol.isEmpty()) {
        const double side = pillHeight * 0.5;
        KavrelSymbols::paint(painter, QRectF(textX, y + (pillHeight - side) / 2, side, side), symbol, foreground);
        textX += side + 5;
    }
    painter.setPen(foreground);
    painter.setFont(pillFont());
    painter.drawText(QRectF(textX, y, x + width - textX, pillHeight), Qt::AlignLeft | Qt::AlignVCenter, text);
    return x + width + 8;
}

struct Pill
{
    QString text;
    QString symbol;
    PillLook look;
};

// The x positions of pills flowed into rows no wider than `width`; a pill wider than the
// row gets a row of its own.
QList<QPointF> flow(const QList<Pill> &pills, double width)
{
    QList<QPointF> positions;
    double x = 0;
    double y = 0;
    for (const Pill &pill : pills) {
        const double pillW = pillWidth(pill.text, pill.symbol, pill.look.horizontalPadding);
        if (x > 0 && x + pillW > width) {
            x = 0;
            y += pillHeight + 8;
        }
        positions.append(QPointF(x, y));
        x += pillW + 8;
    }
    return positions;
}

double flowHeight(const QList<Pill> &pills, double width)
{
    const QList<QPointF> positions = flow(pills, width);
    return positions.isEmpty() ? pillHeight : positions.last().y() + pillHeight;
}

struct StatusFlag
{
    bool on;
    const char *onTitle;
    KavrelDynamicColor onTint;
    const char *offTitle;
};

QString cardTitle(const MeetingSessionHistoryListItem &item)
{
    return Labels::displayTitle(item.title, item.previewText, KavrelLocalizationStore::shared());
}

double actionButtonWidth(const QString &text)
{
    const QFontMetricsF metrics(Style::font(15, QFont::DemiBold));
    return std::ceil(16 + 13 + 8 + metrics.horizontalAdvance(text) + 16);
}

QString openTitle()
{
    return Style::localized(QStringLiteral("Open"));
}

QString deleteTitle(bool deleting)
{
    return Style::localized(deleting ? QStringLiteral("Deleting") : QStringLiteral("Delete"));
}

QList<Pill> metaPills(const MeetingSessionHistoryListItem &item)
{
    const auto &store = KavrelLocalizationStore::shared();
    QList<Pill> pills{{Labels::formattedForHistory(item.startedAt, store.language()), QStringLiteral("calendar"), metaLook()}};
    if (item.wordCount) {
        pills.append({Style::localizedFormat(QStringLiteral("%@ words"), QString::number(*item.wordCount)),
                      QStringLiteral("clock"), metaLook()});
    }
    if (item.lineCount) {
        pills.append({Style::localizedFormat(QStringLiteral("%@ lines"), QString::number(*item.lineCount)),
                      QStringLiteral("text.alignleft"), metaLook()});
    }
    if (auto pair = Labels::languagePairLabel(item, store))
        pills.append({*pair, QStringLiteral("globe"), metaLook()});
    return pills;
}

QList<Pill> statusPills(const MeetingSessionHistoryListItem &item)
{
    const StatusFlag flags[] = {
        {item.translationEnabled, "Translation on", Style::translationTint, "Translation off"},
        {item.recordingEnabled, "Recording on", Style::recordingTint, "Recording off"},
        {item.hasSummary, "Summary ready", Style::summaryTint, "Summary missing"},
        {item.hasProtocol, "Protocol ready", Style::protocolTint, "Protocol missing"},
        {item.hasSuggestedAnswer, "Reply draft ready", Style::replyDraftTint, "Reply draft missing"},
    };
    QList<Pill> pills;
    for (const StatusFlag &flag : flags) {
        const KavrelDynamicColor tint = flag.on ? flag.onTint : Theme::neutralTint;
        pills.append({Style::localized(QString::fromLatin1(flag.on ? flag.onTitle : flag.offTitle)), QString(),
                      statusLook(tint)});
    }
    return pills;
}

} // namespace

struct KavrelHistorySessionCardDelegate::Geometry
{
    QRectF card;
    QRectF content;
    QRectF open;
    QRectF remove;
    QRectF title; // the title row, which opens the card
    double previewHeight = 0;
};

KavrelHistorySessionCardDelegate::KavrelHistorySessionCardDelegate(KavrelHistoryViewModel *viewModel, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_viewModel(viewModel)
{
}

KavrelHistorySessionCardDelegate::Geometry KavrelHistorySessionCardDelegate::geometry(const QRect &rect) const
{
    Geometry g;
    g.card = QRectF(rect).adjusted(0, 0, 0, -cardSpacing);
    const QRectF inner = g.card.adjusted(padding, padding, -padding, -padding);
    const double actionWidth = std::max({actionButtonWidth(openTitle()), actionButtonWidth(deleteTitle(false)),
                                         actionButtonWidth(deleteTitle(true))});
    g.open = QRectF(inner.right() - actionWidth, inner.top(), actionWidth, buttonHeight);
    g.remove = g.open.translated(0, buttonHeight + 12);
    g.content = QRectF(inner.left(), inner.top(), std::max(0.0, g.open.left() - 18 - inner.left()),
                       std::max(0.0, inner.height()));
    g.title = QRectF(g.content.left(), g.content.top(), g.content.width(), titleRowHeight);
    g.previewHeight = QFontMetricsF(Style::font(15, QFont::Medium)).lineSpacing() * previewLines;
    return g;
}

QSize KavrelHistorySessionCardDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    int width = option.rect.width();
    if (m_listView)
        width = m_listView->viewport()->width();
    const Geometry g = geometry(QRect(0, 0, std::max(width, 1), 1));
    double height = padding + titleRowHeight + rowSpacing + g.previewHeight + rowSpacing + padding + cardSpacing;
    const auto *model = qobject_cast<const KavrelHistorySessionListModel *>(index.model());
    if (model && index.row() < model->rowCount()) {
        const MeetingSessionHistoryListItem &item = model->item(index.row());
        height += flowHeight(metaPills(item), g.content.width()) + rowSpacing
                  + flowHeight(statusPills(item), g.content.width());
    } else {
        height += 2 * pillHeight + rowSpacing;
    }
    // The buttons need their room even when the content is short.
    height = std::max(height, padding + 2.0 * buttonHeight + 12 + padding + cardSpacing);
    return QSize(width, int(std::ceil(height)));
}

bool KavrelHistorySessionCardDelegate::isOpening(const MeetingSessionHistoryListItem &item) const
{
    return m_viewModel && m_viewModel->isLoadingDetail() && m_viewModel->selectedSessionSummary()
           && m_viewModel->selectedSessionSummary()->id == item.id;
}

bool KavrelHistorySessionCardDelegate::isDeleting(const MeetingSessionHistoryListItem &item) const
{
    return m_viewModel && m_viewModel->deletingSessionID() == item.id;
}

void KavrelHistorySessionCardDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                             const QModelIndex &index) const
{
    const auto *model = qobject_cast<const KavrelHistorySessionListModel *>(index.model());
    if (!model)
        return;
    const MeetingSessionHistoryListItem &item = model->item(index.row());
    const QPalette &palette = option.palette;
    const Geometry g = geometry(option.rect);
    const bool opening = isOpening(item);
    const bool deleting = isDeleting(item);
    const bool busy = opening || deleting;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // Card.
    const QRectF cardArea = g.card.adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath card = KavrelPainting::continuousRoundedRect(cardArea, 28);
    KavrelHistoryCardFrame::paintShadow(*painter, cardArea, 28, 0.04, 20, 12);
    KavrelPainting::fillAndStroke(*painter, card, Theme::cardFill.resolve(palette), Theme::border.resolve(palette));
    // The card the keyboard is on (Return opens it, Delete asks to remove it), or its Open or
    // Delete when Tab went on to it.
    const bool keyboardOnCard = (option.state & QStyle::State_HasFocus) && m_listView;
    const bool keyboardOnButton = m_keyboardPart == Part::open || m_keyboardPart == Part::remove;
    if (keyboardOnCard && !keyboardOnButton)
        KavrelFocusRing::paint(*painter, m_listView, KavrelPainting::continuousRoundedRect(cardArea.adjusted(1, 1, -1, -1), 27),
                               Theme::cardFill.resolve(palette));

    painter->save();
    painter->setClipRect(g.content.adjusted(0, 0, 0, 2));
    double y = g.content.top();

    // Title and duration chip.
    const QFont titleFont = Style::font(18, QFont::Bold);
    const QFont chipFont = Style::font(14, QFont::Bold);
    const QString duration = Labels::durationLabel(item.durationSeconds);
    const double chipWidth = std::ceil(QFontMetricsF(chipFont).horizontalAdvance(duration) + 24);
    const double titleRoom = std::max(0.0, g.content.width() - chipWidth - 8);
    const QString title = QFontMetricsF(titleFont).elidedText(cardTitle(item), Qt::ElideRight, titleRoom);
    const double titleWidth = std::ceil(QFontMetricsF(titleFont).horizontalAdvance(title));
    painter->setFont(titleFont);
    painter->setPen(Theme::primaryText.resolve(palette));
    painter->drawText(QRectF(g.content.left(), y, titleWidth + 1, titleRowHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
    const QRectF chip(g.content.left() + titleWidth + 8, y, chipWidth, titleRowHeight);
    KavrelPainting::fillAndStroke(*painter, KavrelPainting::capsule(chip.adjusted(0.5, 0.5, -0.5, -0.5)),
                                  Theme::elevatedFill.resolve(palette), Theme::border.resolve(palette));
    painter->setFont(chipFont);
    painter->drawText(chip, Qt::AlignCenter, duration);
    y += titleRowHeight + rowSpacing;

    // Preview, at most two lines.
    const QString preview = Text::nilIfEmpty(item.previewText)
                                .value_or(Style::localized(QStringLiteral("Preview text is not available yet.")));
    const QFont previewFont = Style::font(15, QFont::Medium);
    painter->setFont(previewFont);
    painter->setPen(Theme::secondaryText.resolve(palette));
    const double lineSpacing = QFontMetricsF(previewFont).lineSpacing();
    const QStringList lines = Style::elidedLines(preview, previewFont, g.content.width(), previewLines);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        painter->drawText(QRectF(g.content.left(), y + double(i) * lineSpacing, g.content.width(), lineSpacing),
                          Qt::AlignLeft | Qt::AlignTop, lines.at(i));
    }
    y += g.previewHeight + rowSpacing;

    // Metadata and status pills, each group flowing onto more rows when the card is narrow.
    for (const QList<Pill> &pills : {metaPills(item), statusPills(item)}) {
        const QList<QPointF> positions = flow(pills, g.content.width());
        for (qsizetype i = 0; i < pills.size(); ++i) {
            const Pill &pill = pills.at(i);
            paintPill(*painter, palette, g.content.left() + positions.at(i).x(), y + positions.at(i).y(), pill.text,
                      pill.symbol, pill.look);
        }
        y += flowHeight(pills, g.content.width()) + rowSpacing;
    }
    painter->restore();

    // Open and Delete.
    if (busy)
        painter->setOpacity(0.6);
    const QFont buttonFont = Style::font(15, QFont::DemiBold);
    auto paintButton = [&](const QRectF &area, const QString &text, const QString &symbol, bool spinning,
                           const QColor &foreground, const QColor &fill, const QColor &stroke) {
        KavrelPainting::fillAndStroke(*painter,
                                      KavrelPainting::continuousRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), 14),
                                      fill, stroke);
        const QRectF symbolRect(area.left() + 16, area.center().y() - 6.5, 13, 13);
        if (spinning)
            KavrelPainting::drawSpinner(*painter, symbolRect, foreground, m_spinnerPhase);
        else
            KavrelSymbols::paint(*painter, symbolRect, symbol, foreground);
        painter->setFont(buttonFont);
        painter->setPen(foreground);
        painter->drawText(QRectF(symbolRect.right() + 8, area.top(), area.right() - symbolRect.right() - 8, area.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    paintButton(g.open, openTitle(), QStringLiteral("eye"), opening, Theme::primaryText.resolve(palette),
                Theme::elevatedFill.resolve(palette), Theme::border.resolve(palette));
    paintButton(g.remove, deleteTitle(deleting), QStringLiteral("trash"), deleting,
                Style::deleteForeground.resolve(palette), Style::deleteFill.resolve(palette),
                Style::deleteForeground.resolve(palette, 0.28));
    if (keyboardOnCard && keyboardOnButton) {
        const bool open = m_keyboardPart == Part::open;
        const QRectF button = (open ? g.open : g.remove).adjusted(1, 1, -1, -1);
        KavrelFocusRing::paint(*painter, m_listView, KavrelPainting::continuousRoundedRect(button, 13),
                               (open ? Theme::elevatedFill : Style::deleteFill).resolve(palette));
    }
    painter->restore();
}

KavrelHistorySessionCardDelegate::Part KavrelHistorySessionCardDelegate::partAt(const QRect &rect,
                                                                                const QPoint &point) const
{
    const Geometry g = geometry(rect);
    if (g.open.contains(point))
        return Part::open;
    if (g.remove.contains(point))
        return Part::remove;
    if (g.title.contains(point))
        return Part::title;
    return Part::none;
}

QRect KavrelHistorySessionCardDelegate::partArea(const QRect &rect, Part part) const
{
    const Geometry g = geometry(rect);
    switch (part) {
    case Part::none:
        return g.card.toAlignedRect();
    case Part::title:
        return g.title.toAlignedRect();
    case Part::open:
        return g.open.toAlignedRect();
    case Part::remove:
        return g.remove.toAlignedRect();
    }
    return QRect();
}

QString KavrelHistorySessionCardDelegate::partName(const MeetingSessionHistoryListItem &item, Part part) const
{
    switch (part) {
    case Part::none:
    case Part::title:
        return cardTitle(item);
    case Part::open:
        return openTitle();
    case Part::remove:
        return deleteTitle(isDeleting(item));
    }
    return QString();
}

bool KavrelHistorySessionCardDelegate::trigger(const MeetingSessionHistoryListItem &item, Part part)
{
    if (part == Part::none || !acceptsActions(item))
        return false;
    if (part == Part::remove)
        Q_EMIT deleteRequested(item);
    else
        Q_EMIT openRequested(item);
    return true;
}

bool KavrelHistorySessionCardDelegate::editorEvent(QEvent *event, QAbstractItemModel *model,
                                                   const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const auto *listModel = qobject_cast<const KavrelHistorySessionListModel *>(model);
    auto *mouse = static_cast<QMouseEvent *>(event);
    if (!listModel || mouse->button() != Qt::LeftButton)
        return false;
    const MeetingSessionHistoryListItem item = listModel->item(index.row());
    if (!acceptsActions(item))
        return true;
    return trigger(item, partAt(option.rect, mouse->position().toPoint()));
}

bool KavrelHistorySessionCardDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                                 const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const Part part = partAt(option.rect, event->pos());
    if (part == Part::title || part == Part::open) {
        QToolTip::showText(event->globalPos(), openTitle(), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

#include "history/widgets/KavrelHistoryComponents.h"

#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelPill.h"
#include "base/Text.h"
#include "history/KavrelHistoryLabels.h"
#include "history/widgets/KavrelHistoryBlockList.h"
#include "history/widgets/KavrelHistoryCardFrame.h"
#include "history/widgets/KavrelHistoryStyle.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace KavrelHistoryComponents {

namespace Theme = KavrelHistoryTheme;
namespace Style = KavrelHistoryStyle;

namespace {

KavrelHistoryCardFrame *card(const KavrelHistoryCardFrame::Look &look)
{
    auto *frame = new KavrelHistoryCardFrame(look);
    frame->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    return frame;
}

KavrelHistoryCardFrame::Look cardLook(double radius)
{
    KavrelHistoryCardFrame::Look look;
    look.fill = Theme::cardFill;
    look.stroke = Theme::border;
    look.radius = radius;
    return look;
}

QLabel *selectableText(const QString &text, const QFont &font, KavrelDynamicColor color)
{
    QLabel *label = Style::plainLabel(text, font, color);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setCursor(Qt::IBeamCursor);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A block row's room around its pills and text, and between them.
constexpr int blockPadding = 14;
constexpr int blockGap = 6;
constexpr int blockPillHeight = 30;

QFont blockFont()
{
    return Style::font(15, QFont::Medium, Style::Design::monospaced);
}

} // namespace

namespace {

// The capsule look that the history's pills and buttons share.
template<typename Look>
Look capsuleLook(KavrelDynamicColor fill, double fillOpacity, KavrelDynamicColor stroke, double strokeOpacity,
                 KavrelDynamicColor foreground, int horizontalPadding)
{
    Look look;
    look.fill = fill;
    look.fillOpacity = fillOpacity;
    look.stroke = stroke;
    look.strokeOpacity = strokeOpacity;
    look.foreground = foreground;
    look.horizontalPadding = horizontalPadding;
    return look;
}

// One pill of the history screens: a tinted capsule with a medium-weight label.
KavrelPill *pill(KavrelDynamicColor fill, double fillOpacity, KavrelDynamicColor stroke, double strokeOpacity,
                 KavrelDynamicColor foreground, int horizontalPadding, int height, const QFont &font,
                 const QString &text, const QString &symbol = {})
{
    auto *pill = new KavrelPill;
    auto look = capsuleLook<KavrelPill::Look>(fill, fillOpacity, stroke, strokeOpacity, foreground, horizontalPadding);
    look.height = height;
    pill->setLook(look);
    pill->setFont(font);
    if (!symbol.isEmpty())
        pill->setSymbol(symbol);
    pill->setText(text);
    return pill;
}

// One capsule button of the history screens, with its title looked up.
KavrelCapsuleButton *capsuleButton(KavrelDynamicColor fill, double fillOpacity, KavrelDynamicColor stroke,
                                   double strokeOpacity, KavrelDynamicColor foreground, double symbolSize,
                                   int horizontalPadding, const QFont &font, const QString &title)
{
    auto *button = new KavrelCapsuleButton;
    auto look =
        capsuleLook<KavrelCapsuleButton::Look>(fill, fillOpacity, stroke, strokeOpacity, foreground, horizontalPadding);
    look.symbolSize = symbolSize;
    button->setLook(look);
    button->setFont(font);
    button->setText(Style::localized(title));
    return button;
}

} // namespace

KavrelPill *metaPill(const QString &title, const QString &symbol)
{
    return pill(Theme::elevatedFill, 1, Theme::border, 1, Theme::secondaryText, 10, 30, Style::font(13, QFont::Medium),
                Style::localized(title), symbol);
}

KavrelPill *statusPill(const QString &title, KavrelDynamicColor tint)
{
    return pill(tint, 0.1, tint, 0.22, tint, 12, 30, Style::font(13, QFont::Medium), Style::localized(title));
}

KavrelPill *countBadge(int count)
{
    return pill(Theme::accentFill, 1, Theme::border, 1, Style::accent, 14, 44, Style::font(14, QFont::DemiBold),
                Style::localizedFormat(QStringLiteral("%@ sessions"), QString::number(count)), QStringLiteral("clock"));
}

KavrelCapsuleButton *panelActionButton(const QString &title, const QString &symbol, bool isEnabled, bool isLoading)
{
    KavrelCapsuleButton *button = capsuleButton(Theme::elevatedFill, 1, Theme::border, 1,
                                                isEnabled ? Theme::primaryText : Theme::tertiaryText, 13, 14,
                                                Style::font(14, QFont::DemiBold), title);
    button->setToolTip(Style::localized(title));
    button->setSymbol(symbol);
    // Named after its title: a panel made anew finds the button that had the keyboard by it.
    button->setObjectName(title);
    KavrelFocusHold::setAvailable(button, isEnabled);
    button->setBusy(isLoading);
    button->setFixedHeight(34);
    return button;
}

QWidget *spinner(int side, const QString &accessibleName)
{
    auto *indicator = new KavrelCapsuleButton;
    KavrelCapsuleButton::Look look;
    look.drawsBackground = false;
    look.foreground = Style::accent;
    look.symbolSize = side;
    look.horizontalPadding = 0;
    indicator->setLook(look);
    indicator->setFixedContentSize(QSize(side, side));
    indicator->setBusy(true);
    indicator->setCursor(Qt::ArrowCursor);
    indicator->setFocusPolicy(Qt::NoFocus);
    indicator->setAccessibleName(accessibleName);
    return indicator;
}

QWidget *loadingCard(const QString &text)
{
    KavrelHistoryCardFrame *frame = card(cardLook(24));
    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(22, 22, 22, 22);
    row->setSpacing(12);
    const QString title = Style::localized(text);
    row->addWidget(spinner(20, title));
    row->addWidget(Style::plainLabel(title, Style::font(16, QFont::Medium), Theme::primaryText));
    row->addStretch();
    return frame;
}

QWidget *errorCard(const QString &text, const QString &retryTitle, std::function<void()> retryAction)
{
    KavrelHistoryCardFrame::Look look;
    look.fill = Style::standardRed;
    look.fillOpacity = 0.08;
    look.stroke = Style::standardRed;
    look.strokeOpacity = 0.22;
    look.radius = 24;
    KavrelHistoryCardFrame *frame = card(look);
    auto *column = new QVBoxLayout(frame);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(14);
    QLabel *message = Style::plainLabel(Style::localizedMessage(text), Style::font(15, QFont::Medium), Theme::primaryText);
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(message);

    KavrelCapsuleButton *retry = capsuleButton(Style::errorRed, 0.14, Style::errorRed, 0.35, Style::errorRed,
                                               KavrelCapsuleButton::Look().symbolSize, 14,
                                               Style::font(14, QFont::DemiBold), retryTitle);
    QObject::connect(retry, &QAbstractButton::clicked, retry, [action = std::move(retryAction)] {
        if (action)
            action();
    });
    column->addWidget(retry, 0, Qt::AlignLeft);
    return frame;
}

KavrelCapsuleButton *loadMoreButton(bool loadingMore)
{
    KavrelCapsuleButton *button =
        capsuleButton(Theme::elevatedFill, 1, Theme::border, 1, Theme::primaryText, 14, 18, Style::font(15, QFont::DemiBold),
                      loadingMore ? QStringLiteral("Loading more…") : QStringLiteral("Load more"));
    button->setFixedHeight(46);
    button->setBusy(loadingMore);
    KavrelFocusHold::setAvailable(button, !loadingMore);
    return button;
}

QWidget *emptyCard(const QString &title, const QString &subtitle)
{
    KavrelHistoryCardFrame *frame = card(cardLook(24));
    auto *column = new QVBoxLayout(frame);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(10);
    column->addWidget(Style::plainLabel(Style::localized(title), Style::font(24, QFont::Bold), Theme::primaryText));
    QLabel *sub = Style::plainLabel(Style::localized(subtitle), Style::font(16, QFont::Medium), Theme::secondaryText);
    sub->setWordWrap(true);
    column->addWidget(sub);
    return frame;
}

QWidget *detailPanel(const QString &title, QWidget *accessory, QWidget *content)
{
    KavrelHistoryCardFrame::Look look = cardLook(26);
    look.shadowOpacity = 0.03;
    look.shadowRadius = 18;
    look.shadowOffset = 10;
    KavrelHistoryCardFrame *frame = card(look);
    auto *column = new QVBoxLayout(frame);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(Style::plainLabel(Style::localized(title), Style::font(20, QFont::Bold), Theme::primaryText));
    header->addStretch();
    if (accessory)
        header->addWidget(accessory);
    column->addLayout(header);
    column->addWidget(content);
    return frame;
}

QWidget *textContent(const QString &text, const QString &titleKey)
{
    QLabel *label = Style::readableLabel(text, Style::font(15, QFont::Medium, Style::Design::monospaced),
                                         Theme::primaryText, Style::localized(titleKey));
    label->setWordWrap(true);
    label->setCursor(Qt::IBeamCursor);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget *summaryContent(const std::optional<QString> &text, const std::optional<QString> &errorMessage, bool isLoading)
{
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    if (isLoading) {
        auto *row = new QHBoxLayout;
        row->setSpacing(10);
        const QString title = Style::localized(QStringLiteral("Summarizing transcript..."));
        row->addWidget(spinner(16, title));
        row->addWidget(Style::plainLabel(title, Style::font(15, QFont::Medium), Theme::secondaryText));
        row->addStretch();
        column->addLayout(row);
    }
    if (errorMessage && !errorMessage->isEmpty())
        column->addWidget(selectableText(*errorMessage, Style::font(14, QFont::Medium), Style::errorRed));
    if (text && !text->isEmpty()) {
        column->addWidget(textContent(*text, QStringLiteral("Summary")));
    } else if (!isLoading) {
        column->addWidget(Style::plainLabel(Style::localized(QStringLiteral("No summary yet.")),
                                            Style::font(15, QFont::Medium), Theme::secondaryText));
    }
    return content;
}

QWidget *blockRow(const QList<QWidget *> &pills, const QString &text)
{
    KavrelHistoryCardFrame::Look look;
    look.fill = Theme::elevatedFill;
    look.stroke = Theme::border;
    look.radius = 18;
    auto *row = new KavrelHistoryCardFrame(look);
    auto *column = new QVBoxLayout(row);
    column->setContentsMargins(blockPadding, blockPadding, blockPadding, blockPadding);
    column->setSpacing(blockGap);
    auto *pillRow = new QHBoxLayout;
    pillRow->setSpacing(8);
    for (QWidget *pill : pills)
        pillRow->addWidget(pill);
    pillRow->addStretch();
    column->addLayout(pillRow);
    column->addWidget(selectableText(text, blockFont(), Theme::primaryText));
    return row;
}

int blockRowHeight(const QString &text, int width, int *narrowest, bool *wrapped)
{
    // Laid out as the row's label lays out its text: a paragraph per line break, word wrap,
    // each line as tall as the font with its leading.
    const QFont font = blockFont();
    const int chrome = 2 * blockPadding + blockPillHeight + blockGap;
    if (narrowest)
        *narrowest = 0;
    if (wrapped)
        *wrapped = false;
    if (text.isEmpty()) // an empty label is one font height tall
        return chrome + QFontMetrics(font).height();
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    const qreal lineWidth = std::max(0, width - 2 * blockPadding);
    qreal textHeight = 0;
    qreal widest = 0;
    const QStringList paragraphs = text.split(u'\n');
    int lines = 0;
    for (const QString &paragraph : paragraphs) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.setCacheEnabled(false);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLeadingIncluded(true);
            line.setLineWidth(lineWidth);
            textHeight += line.height();
            widest = std::max(widest, line.naturalTextWidth());
            ++lines;
        }
        layout.endLayout();
    }
    if (narrowest)
        *narrowest = int(std::ceil(widest)) + 2 * blockPadding;
    if (wrapped)
        *wrapped = lines > paragraphs.size();
    return chrome + int(std::ceil(textHeight));
}

QFont blockTextFont()
{
    return blockFont();
}

BlockTextUnits blockTextUnits()
{
    // Laid out as blockRowHeight() lays out a text, so that an estimate adds up the same.
    const QFont font = blockFont();
    constexpr int sample = 100;
    QTextLayout layout(QString(sample, u'x'), font);
    layout.setCacheEnabled(false);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLeadingIncluded(true);
    line.setLineWidth(1e6);
    layout.endLayout();
    BlockTextUnits units;
    units.advance = std::max<qreal>(0.5, line.naturalTextWidth() / sample);
    units.lineHeight = line.height();
    units.emptyHeight = QFontMetrics(font).height();
    return units;
}

int blockRowHeightEstimate(const QString &text, int width, const BlockTextUnits &units)
{
    const int chrome = 2 * blockPadding + blockPillHeight + blockGap;
    if (text.isEmpty())
        return chrome + units.emptyHeight;
    const qsizetype perLine = std::max<qsizetype>(1, qsizetype(std::max(0, width - 2 * blockPadding) / units.advance));
    // Every character as wide as the next, the lines break where a label's word wrap breaks
    // them: between words, the spaces at a line's end hanging over it, a word longer than a line
    // on a line of its own. Other break points (hyphens, scripts without spaces) and other widths
    // (wide or combining characters) are left to the measuring.
    qsizetype lines = 1;
    qsizetype used = 0;     // characters on the current line
    qsizetype spaces = 0;   // spaces since the last word
    qsizetype word = 0;     // characters of the word being read
    bool lineStarted = false;
    const auto endWord = [&] {
        if (word == 0)
            return;
        if (!lineStarted) {
            used = spaces + word;
            lineStarted = true;
        } else if (used + spaces + word <= perLine) {
            used += spaces + word;
        } else {
            ++lines;
            used = word;
        }
        spaces = 0;
        word = 0;
    };
    for (const QChar c : text) {
        if (c == u'\n') {
            endWord();
            ++lines;
            used = 0;
            spaces = 0;
            lineStarted = false;
        } else if (c == u' ') {
            endWord();
            ++spaces;
        } else {
            ++word;
        }
    }
    endWord();
    return chrome + int(std::ceil(qreal(lines) * units.lineHeight));
}

QWidget *transcriptBlockList(const QList<MeetingSessionTranscriptBlock> &blocks)
{
    QList<KavrelHistoryBlockList::Block> rows;
    rows.reserve(blocks.size());
    for (const MeetingSessionTranscriptBlock &block : blocks) {
        KavrelHistoryBlockList::Block row{{{block.timestamp, QStringLiteral("clock")}}, block.text};
        if (auto speaker = Text::nilIfEmpty(block.speakerLabel))
            row.pills.append({*speaker, QStringLiteral("person")});
        rows.append(std::move(row));
    }
    auto *list = new KavrelHistoryBlockList(std::move(rows));
    list->setAccessibleName(Style::localized(QStringLiteral("Transcript")));
    return list;
}

QWidget *translationBlockList(const QList<MeetingSessionTranslationBlock> &blocks,
                              const KavrelLocalizationStore &localization)
{
    QList<KavrelHistoryBlockList::Block> rows;
    rows.reserve(blocks.size());
    for (const MeetingSessionTranslationBlock &block : blocks) {
        rows.append({{{KavrelHistoryLabels::languageName(block.language, localization), QStringLiteral("globe")},
                      {QStringLiteral("#") + QString::number(block.seq), QStringLiteral("number")}},
                     block.text});
    }
    auto *list = new KavrelHistoryBlockList(std::move(rows));
    list->setAccessibleName(Style::localized(QStringLiteral("Translation")));
    return list;
}

} // namespace KavrelHistoryComponents

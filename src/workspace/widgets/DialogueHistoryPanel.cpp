#include "workspace/widgets/DialogueHistoryPanel.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelOpaqueBackdrop.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "kit/widgets/KavrelTextBlocks.h"
#include "base/Text.h"
#include "workspace/WorkspaceRules.h"
#include "workspace/widgets/DialogueBadgeObject.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdlib>

namespace {

// Where a row's text starts after its time badge; wrapped lines and the draft line up here.
constexpr double textColumn = 68;

QTextBlockFormat rowBlockFormat(bool hangs)
{
    QTextBlockFormat format;
    format.setTopMargin(2);
    format.setBottomMargin(3);
    format.setLeftMargin(textColumn + 4);
    format.setRightMargin(4);
    format.setTextIndent(hangs ? -textColumn : 0);
    return format;
}

// The slim bars draw only their handle, a rounded bar of one flat colour: a change of the value
// or the range repaints where the handle's ends were and are, not the whole bar nor the whole
// handle (every new row changes both; early in a meeting the handle is most of the bar's
// length, and each repaint is a pass of the style sheet over the picture beneath the bar).
class HandleScrollBar final : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // Rows of a handle's end that its rounding (and the antialiasing around it) may touch.
    static constexpr int endRows = 6;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change != SliderValueChange && change != SliderRangeChange)
            return QScrollBar::sliderChange(change);
        const QRect handle = handleRect();
        if (handle != m_drawnHandle)
            update(changedArea(m_drawnHandle, handle));
    }

    void paintEvent(QPaintEvent *event) override
    {
        m_drawnHandle = handleRect();
        QScrollBar::paintEvent(event);
    }

private:
    // Between two handles of the same column only the rows around their ends differ; a handle
    // that changed its column, or is not there, is drawn whole.
    static QRegion changedArea(const QRect &before, const QRect &after)
    {
        if (before.isEmpty() || after.isEmpty() || before.left() != after.left() || before.right() != after.right())
            return QRegion(before.united(after));
        const auto rows = [&](int from, int to) {
            return QRect(before.left(), from, before.width(), to - from + 1);
        };
        const QRect top = rows(std::min(before.top(), after.top()) - 1, std::max(before.top(), after.top()) + endRows);
        const QRect bottom =
            rows(std::min(before.bottom(), after.bottom()) - endRows, std::max(before.bottom(), after.bottom()) + 1);
        if (top.bottom() + 1 >= bottom.top())
            return QRegion(top.united(bottom));
        return QRegion(top) + bottom;
    }

    QRect handleRect() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    }

    QRect m_drawnHandle;
};

} // namespace

DialogueHistoryPanel::DialogueHistoryPanel(PublishedTranscript *transcript, PublishedTranscript::Column column,
                                           SpeakerLabel speakerLabel, QWidget *parent)
    : QTextEdit(parent), m_backdrop(new KavrelOpaqueBackdrop(viewport())), m_transcript(transcript), m_column(column), m_speakerLabel(std::move(speakerLabel)),
      m_follow(this, [this] { followEnd(); })
{
    setReadOnly(true);
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    setVerticalScrollBar(new HandleScrollBar(Qt::Vertical, this));
    KavrelSlimScrollBars::apply(this);
    // The scroll bar changes with the text; see-through, each change repainted the box, the
    // card and the window beneath it.
    new KavrelOpaqueBackdrop(verticalScrollBar(), KavrelOpaqueBackdrop::Painting::beforeTheWidget);
    setAutoFillBackground(false);
    document()->setDocumentMargin(12);
    DialogueBadgeObject::install(document());

    m_scrollTimer.setSingleShot(true);
    m_scrollTimer.setInterval(std::chrono::milliseconds(60));
    connect(&m_scrollTimer, &QTimer::timeout, this, &DialogueHistoryPanel::scrollToBottom);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        // The user's own scrolling decides whether new rows pull the view down. (A move while
        // the view is due to follow grown text is the text edit's own.)
        if (!m_scrolling && !m_follow.isScheduled())
            m_followsEnd = value >= verticalScrollBar()->maximum() - 4;
    });
    // The layout grows the range after the text changed; a view that follows the end keeps
    // to it.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int) {
        if (m_followsEnd)
            m_follow.schedule();
    });

    transcript->followColumn(column, this, {[this](int row) { insertRow(row); }, [this](int row) { replaceRow(row); },
                                            [this](int row) { removeRow(row); }, [this] { rebuild(); }});
    rebuild();
}

// The text changes several times a second while someone speaks; drawing the card and box
// beneath it from a picture keeps those repaints to this view. A repaint after a scroll is a
// strip at each end and the rows that came into view: each part is drawn alone, as the text
// of the whole view between them has not changed.
void DialogueHistoryPanel::paintEvent(QPaintEvent *event)
{
    const QRegion &region = event->region();
    if (region.rectCount() > 4) {
        paintPart(event->rect());
        return;
    }
    for (const QRect &part : region)
        paintPart(part);
}

void DialogueHistoryPanel::paintPart(const QRect &part)
{
    {
        QPainter painter(viewport());
        if (!m_backdrop->paint(painter, part))
            return;
    }
    QPaintEvent partEvent(part);
    QTextEdit::paintEvent(&partEvent);
}

// The text moves over a box that stays: where the box is the same row after row, its pixels
// move with the text and only the rows that come into view are drawn; the box's ends, which
// do not move, are drawn again. Every new row and every scroll of the user's was a repaint of
// the whole view, each line shaped again.
void DialogueHistoryPanel::scrollContentsBy(int dx, int dy)
{
    const QRect steady = m_backdrop->steadyRows();
    if (dx != 0 || steady.height() <= std::abs(dy)) {
        viewport()->update();
        return;
    }
    const QRect band(0, steady.top(), viewport()->width(), steady.height());
    viewport()->scroll(0, dy, band);
    viewport()->update(QRect(0, 0, viewport()->width(), band.top()));
    viewport()->update(QRect(0, band.bottom() + 1, viewport()->width(), viewport()->height() - band.bottom() - 1));
}

void DialogueHistoryPanel::setFontSize(double size)
{
    if (m_fontSize == size)
        return;
    m_fontSize = size;
    rebuild();
}

void DialogueHistoryPanel::setDraftText(const QString &text)
{
    const QString trimmed = Text::trimmed(text);
    if (trimmed == m_draftText)
        return;
    m_draftText = trimmed;
    const bool wanted = !m_draftText.isEmpty();
    QTextCursor cursor(document());
    // One edit, so the document lays the draft out once.
    cursor.beginEditBlock();
    if (m_hasDraftBlock) {
        if (wanted) {
            // Selected by position: a cursor move would lay out the blocks it passes first.
            const QTextBlock draft = document()->findBlockByNumber(m_rowBlocks);
            cursor.setPosition(draft.position());
            cursor.setPosition(draft.position() + draft.length() - 1, QTextCursor::KeepAnchor);
            writeDraft(cursor);
        } else {
            // The draft is the last block: it goes with the break before it.
            KavrelTextBlocks::removeBlock(document(), m_rowBlocks);
            m_hasDraftBlock = false;
        }
    } else if (wanted) {
        const QTextBlock last = document()->lastBlock();
        cursor.setPosition(last.position() + last.length() - 1);
        if (m_rowBlocks > 0)
            cursor.insertBlock();
        writeDraft(cursor);
        m_hasDraftBlock = true;
    }
    cursor.endEditBlock();
    contentChanged();
}

QString DialogueHistoryPanel::scrollSignature() const
{
    const int count = m_transcript->rowCount(m_column);
    const DialogueEntry *last = count > 0 ? &m_transcript->row(m_column, count - 1) : nullptr;
    return WorkspaceRules::scrollSignature(count, last, m_draftText);
}

void DialogueHistoryPanel::rebuild()
{
    document()->clear();
    m_rowBlocks = 0;
    m_hasDraftBlock = false;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    const int count = m_transcript->rowCount(m_column);
    for (int row = 0; row < count; ++row) {
        if (row > 0)
            cursor.insertBlock();
        writeRow(cursor, m_transcript->row(m_column, row));
        ++m_rowBlocks;
    }
    if (!m_draftText.isEmpty()) {
        if (m_rowBlocks > 0)
            cursor.insertBlock();
        writeDraft(cursor);
        m_hasDraftBlock = true;
    }
    cursor.endEditBlock();
    m_lastSignature.clear();
    contentChanged();
}

void DialogueHistoryPanel::insertRow(int row)
{
    const DialogueEntry &entry = m_transcript->row(m_column, row);
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    if (m_rowBlocks == 0 && !m_hasDraftBlock) {
        writeRow(cursor, entry);
    } else if (row < m_rowBlocks || m_hasDraftBlock) {
        // A block break before the block now at `row` leaves an empty block in its place.
        const int start = document()->findBlockByNumber(row).position();
        cursor.setPosition(start);
        cursor.insertBlock();
        cursor.setPosition(start);
        writeRow(cursor, entry);
    } else {
        const QTextBlock last = document()->lastBlock();
        cursor.setPosition(last.position() + last.length() - 1);
        cursor.insertBlock();
        writeRow(cursor, entry);
    }
    cursor.endEditBlock();
    ++m_rowBlocks;
    contentChanged();
}

void DialogueHistoryPanel::replaceRow(int row)
{
    if (row >= m_rowBlocks)
        return rebuild();
    const QTextBlock block = document()->findBlockByNumber(row);
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.setPosition(block.position());
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    writeRow(cursor, m_transcript->row(m_column, row));
    cursor.endEditBlock();
    contentChanged();
}

void DialogueHistoryPanel::removeRow(int row)
{
    if (row >= m_rowBlocks)
        return rebuild();
    KavrelTextBlocks::removeBlock(document(), row);
    --m_rowBlocks;
    contentChanged();
}

void DialogueHistoryPanel::writeRow(QTextCursor &cursor, const DialogueEntry &entry)
{
    const QPalette colours = palette();
    cursor.setBlockFormat(rowBlockFormat(true));
    const QColor secondary = KavrelSystemColors::secondaryLabel.resolve(colours);
    // The badges' 10 px type draws thin on a real screen, light on dark most of all: there it
    // takes a lighter grey than the secondary text's.
    const QColor badgeText = kavrelDynamic(KavrelSystemColors::secondaryLabel.light, {1, 1, 1, 0.62}).resolve(colours);
    cursor.insertText(QString(QChar::ObjectReplacementCharacter),
                      DialogueBadgeObject::format(DialogueBadgeObject::Kind::timestamp,
                                                  PublishedTranscript::transcriptTimestamp(entry.timestamp), badgeText,
                                                  KavrelSystemColors::secondaryLabel.resolve(colours, 0.1)));
    QTextCharFormat text;
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(int(m_fontSize));
    text.setFont(mono);
    text.setForeground(entry.isDraft ? secondary : KavrelSystemColors::label.resolve(colours));
    QTextCharFormat gap;
    gap.setFont(mono);
    cursor.insertText(QStringLiteral(" "), gap);
    if (entry.speakerNumber) {
        cursor.insertText(QString(QChar::ObjectReplacementCharacter),
                          DialogueBadgeObject::format(DialogueBadgeObject::Kind::speaker, m_speakerLabel(*entry.speakerNumber),
                                                      badgeText, KavrelSystemColors::label.resolve(colours, 0.1)));
        cursor.insertText(QStringLiteral(" "), gap);
    }
    cursor.insertText(entry.text, text);
}

void DialogueHistoryPanel::writeDraft(QTextCursor &cursor)
{
    cursor.setBlockFormat(rowBlockFormat(false));
    QTextCharFormat text;
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(int(m_fontSize));
    text.setFont(mono);
    text.setForeground(KavrelSystemColors::secondaryLabel.resolve(palette()));
    cursor.insertText(m_draftText, text);
}

void DialogueHistoryPanel::contentChanged()
{
    const QString signature = scrollSignature();
    if (signature == m_lastSignature)
        return;
    m_lastSignature = signature;
    // Restarting the timer drops the scroll it had pending.
    m_scrollTimer.start();
}

void DialogueHistoryPanel::scrollToBottom()
{
    if (!m_followsEnd)
        return;
    m_scrolling = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    m_scrolling = false;
    Q_EMIT scrolledToBottom();
}

void DialogueHistoryPanel::followEnd()
{
    m_follow.done();
    if (!m_followsEnd || verticalScrollBar()->value() == verticalScrollBar()->maximum())
        return;
    // What the edit left to draw is drawn first, where it stands now, so the view's pixels are
    // up to date and can be moved: with a repaint pending over them they would be drawn whole.
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
    m_scrolling = true;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    m_scrolling = false;
}

void DialogueHistoryPanel::showEvent(QShowEvent *event)
{
    QTextEdit::showEvent(event);
    m_scrollTimer.start();
}

void DialogueHistoryPanel::changeEvent(QEvent *event)
{
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        rebuild();
}

#include "app/widgets/KavrelMiniTranscriptPanel.h"

#include "app/KavrelMiniListeningTexts.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "kit/widgets/KavrelSymbols.h"
#include "kit/widgets/KavrelTextBlocks.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

constexpr int headingHeight = 18;
constexpr int headingGap = 8;
// Room around the text, and between the text and the draft below it.
constexpr int textMargin = 12;
constexpr int draftGap = 6;

} // namespace

KavrelMiniTranscriptPanel::KavrelMiniTranscriptPanel(PublishedTranscript *transcript, PublishedTranscript::Column column,
                                                     QWidget *parent)
    : QWidget(parent), m_transcript(transcript), m_column(column), m_view(new QTextEdit)
{
    m_view->setReadOnly(true);
    m_view->setAcceptRichText(false);
    m_view->setUndoRedoEnabled(false);
    m_view->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_view->setFocusPolicy(Qt::ClickFocus);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->viewport()->setAutoFillBackground(false);
    m_view->setAutoFillBackground(false);
    KavrelSlimScrollBars::apply(m_view);
    m_view->document()->setDocumentMargin(textMargin);
    QFont font = m_view->font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    m_view->setFont(font);
    m_view->document()->setDefaultFont(font);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, headingHeight + headingGap + 1, 1, 1);
    layout->addWidget(m_view);

    m_scrollTimer.setSingleShot(true);
    m_scrollTimer.setInterval(std::chrono::milliseconds(80));
    connect(&m_scrollTimer, &QTimer::timeout, this, &KavrelMiniTranscriptPanel::scrollToBottom);

    applyColours();
    if (!transcript) {
        rebuild();
        return;
    }
    transcript->followColumn(column, this, {[this](int row) { insertRow(row); }, [this](int row) { replaceRow(row); },
                                            [this](int row) { removeRow(row); }, [this] { rebuild(); }});
    rebuild();
}

QAbstractScrollArea *KavrelMiniTranscriptPanel::scrollArea() const
{
    return m_view;
}

void KavrelMiniTranscriptPanel::setContent(const QString &title, const QString &draftText, const QString &placeholder,
                                           const QString &symbol)
{
    if (title != m_title || symbol != m_symbol) {
        m_title = title;
        m_symbol = symbol;
        m_view->setAccessibleName(title); // the heading is painted: the text answers to it
        update(QRect(0, 0, width(), headingHeight));
    }
    m_draft = KavrelMiniListeningTexts::draftLine(draftText);
    m_placeholder = placeholder;
    refreshTail();
    // Scroll when first shown, then whenever the text or the draft changes.
    if (!m_hasScrolledOnce) {
        m_hasScrolledOnce = true;
        m_scrollTimer.start();
    }
}

QString KavrelMiniTranscriptPanel::shownText() const
{
    if (m_tail == Tail::placeholder)
        return m_placeholder;
    QStringList lines;
    for (QTextBlock block = m_view->document()->begin(); block.isValid() && block.blockNumber() < m_rowBlocks;
         block = block.next())
        lines.append(block.text());
    return lines.join(u'\n');
}

QString KavrelMiniTranscriptPanel::shownDraft() const
{
    return m_tail == Tail::draft ? m_draft : QString();
}

QString KavrelMiniTranscriptPanel::rowLine(int row) const
{
    return PublishedTranscript::renderText({m_transcript->row(m_column, row)}, false, true);
}

KavrelMiniTranscriptPanel::Tail KavrelMiniTranscriptPanel::wantedTail() const
{
    if (!m_draft.isEmpty())
        return Tail::draft;
    if (m_rowBlocks == 0 && !KavrelMiniListeningTexts::viewerText(QString(), m_draft, m_placeholder).isEmpty())
        return Tail::placeholder;
    return Tail::none;
}

void KavrelMiniTranscriptPanel::rebuild()
{
    QTextDocument *document = m_view->document();
    document->clear();
    m_rowBlocks = m_transcript ? m_transcript->rowCount(m_column) : 0;
    m_tail = Tail::none;
    QStringList lines;
    lines.reserve(m_rowBlocks);
    for (int row = 0; row < m_rowBlocks; ++row)
        lines.append(rowLine(row));
    QTextCursor cursor(document);
    // A line break of the inserted text starts a new block: one block per row.
    cursor.insertText(lines.join(u'\n'), QTextCharFormat());
    refreshTail();
    contentChanged();
}

void KavrelMiniTranscriptPanel::insertRow(int row)
{
    QTextCursor cursor(m_view->document());
    if (m_rowBlocks == 0) {
        // The tail (a placeholder or the draft) goes and comes back after the row.
        m_view->document()->clear();
        m_tail = Tail::none;
        cursor = QTextCursor(m_view->document());
        cursor.insertText(rowLine(row), QTextCharFormat());
        m_rowBlocks = 1;
    } else if (row < m_rowBlocks) {
        // A break at the start of the row now at `row` leaves an empty block in its place.
        cursor = QTextCursor(m_view->document()->findBlockByNumber(row));
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.movePosition(QTextCursor::PreviousBlock);
        cursor.insertText(rowLine(row), QTextCharFormat());
        ++m_rowBlocks;
    } else {
        cursor = QTextCursor(m_view->document()->findBlockByNumber(m_rowBlocks - 1));
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.insertText(rowLine(row), QTextCharFormat());
        ++m_rowBlocks;
    }
    refreshTail();
    contentChanged();
}

void KavrelMiniTranscriptPanel::replaceRow(int row)
{
    if (row >= m_rowBlocks)
        return rebuild();
    QTextCursor cursor(m_view->document()->findBlockByNumber(row));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(rowLine(row), QTextCharFormat());
    contentChanged();
}

void KavrelMiniTranscriptPanel::removeRow(int row)
{
    if (row >= m_rowBlocks)
        return rebuild();
    if (m_rowBlocks == 1)
        return rebuild();
    KavrelTextBlocks::removeBlock(m_view->document(), row);
    --m_rowBlocks;
    refreshTail();
    contentChanged();
}

void KavrelMiniTranscriptPanel::refreshTail()
{
    const Tail wanted = wantedTail();
    const QTextBlock last = m_view->document()->lastBlock();
    if (wanted == m_tail) {
        const QString shown = wanted == Tail::draft ? m_draft : wanted == Tail::placeholder ? m_placeholder : QString();
        if (wanted == Tail::none || last.text() == shown)
            return;
    }
    QTextCursor cursor(m_view->document());
    if (m_tail != Tail::none) {
        if (m_rowBlocks > 0) {
            cursor = QTextCursor(m_view->document()->findBlockByNumber(m_rowBlocks - 1));
            cursor.movePosition(QTextCursor::EndOfBlock);
        }
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        m_tail = Tail::none;
    }
    if (wanted != Tail::none) {
        cursor.movePosition(QTextCursor::End);
        if (m_rowBlocks > 0)
            cursor.insertBlock();
        writeTail(cursor, wanted);
        m_tail = wanted;
    }
    contentChanged();
}

void KavrelMiniTranscriptPanel::writeTail(QTextCursor &cursor, Tail tail)
{
    QTextBlockFormat block;
    QTextCharFormat text;
    if (tail == Tail::draft) {
        block.setTopMargin(m_rowBlocks > 0 ? draftGap : 0);
        text.setForeground(KavrelSystemColors::secondaryLabel.resolve(palette()));
    }
    cursor.setBlockFormat(block);
    cursor.insertText(tail == Tail::draft ? m_draft : m_placeholder, text);
}

void KavrelMiniTranscriptPanel::contentChanged()
{
    if (m_hasScrolledOnce)
        m_scrollTimer.start();
}

void KavrelMiniTranscriptPanel::scrollToBottom()
{
    if (QScrollBar *bar = m_view->verticalScrollBar())
        bar->setValue(bar->maximum());
}

void KavrelMiniTranscriptPanel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange) {
        applyColours();
        // The draft's grey is written into the text.
        if (m_tail == Tail::draft) {
            m_tail = Tail::none;
            if (m_rowBlocks > 0) {
                QTextCursor cursor(m_view->document()->findBlockByNumber(m_rowBlocks - 1));
                cursor.movePosition(QTextCursor::EndOfBlock);
                cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
                cursor.removeSelectedText();
            } else {
                m_view->document()->clear();
            }
            refreshTail();
        }
    }
    QWidget::changeEvent(event);
}

void KavrelMiniTranscriptPanel::applyColours()
{
    QPalette colours = m_view->palette();
    colours.setColor(QPalette::Text, KavrelSystemColors::label.resolve(palette()));
    m_view->setPalette(colours);
}

QRectF KavrelMiniTranscriptPanel::textAreaRect() const
{
    return QRectF(0.5, headingHeight + headingGap + 0.5, width() - 1, height() - headingHeight - headingGap - 1);
}

void KavrelMiniTranscriptPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Heading: the symbol in the accent colour, then the title.
    KavrelSymbols::paint(painter, QRectF(0, 2, 14, 14), m_symbol, KavrelSystemColors::accent.resolve(palette()));
    QFont font = this->font();
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(KavrelSystemColors::label.resolve(palette()));
    const QRectF titleRect(20, 0, width() - 20, headingHeight);
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(font).elidedText(m_title, Qt::ElideRight, int(titleRect.width())));
    // The text area.
    KavrelPainting::fillAndStroke(painter, KavrelPainting::continuousRoundedRect(textAreaRect(), 10),
                                  KavrelSystemColors::textBackground.resolve(palette(), 0.72),
                                  KavrelSystemColors::secondaryLabel.resolve(palette(), 0.14));
}

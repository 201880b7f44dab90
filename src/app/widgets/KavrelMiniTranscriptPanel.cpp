#include "app/widgets/KavrelMiniTranscriptPanel.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "kit/widgets/KavrelSymbols.h"
#include "base/Text.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int headingHeight = 18;
constexpr int headingGap = 8;

QLabel *textLabel()
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    QFont font = label->font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    label->setFont(font);
    return label;
}

} // namespace

KavrelMiniTranscriptPanel::KavrelMiniTranscriptPanel(QWidget *parent)
    : QWidget(parent), m_text(textLabel()), m_draft(textLabel()), m_scrollArea(new QScrollArea)
{
    m_draft->setAccessibleName(KavrelLocalizationStore::shared().localized(QStringLiteral("Live draft")));
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(6);
    column->addWidget(m_text);
    column->addWidget(m_draft);
    column->addStretch(1);

    m_scrollArea->setWidget(content);
    content->setAutoFillBackground(false); // setWidget() turned it on; the panel paints the area
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    KavrelSlimScrollBars::apply(m_scrollArea);
    m_scrollArea->setAutoFillBackground(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, headingHeight + headingGap + 1, 1, 1);
    layout->addWidget(m_scrollArea);

    m_scrollTimer.setSingleShot(true);
    m_scrollTimer.setInterval(std::chrono::milliseconds(80));
    connect(&m_scrollTimer, &QTimer::timeout, this, &KavrelMiniTranscriptPanel::scrollToBottom);
    applyColours();
}

void KavrelMiniTranscriptPanel::setContent(const QString &title, const QString &text, const QString &draftText,
                                           const QString &symbol)
{
    m_title = title;
    m_symbol = symbol;
    const QString draft = Text::trimmed(draftText);
    if (m_text->text() != text)
        m_text->setText(text);
    m_text->setVisible(!text.isEmpty());
    if (m_draft->text() != draft)
        m_draft->setText(draft);
    m_draft->setVisible(!draft.isEmpty());
    update();

    // Scroll when first shown and whenever the text or the draft changes.
    const QString key = text + QLatin1Char('-') + draft;
    if (!m_hasScrolledOnce || key != m_scrollKey) {
        m_hasScrolledOnce = true;
        m_scrollKey = key;
        m_scrollTimer.start();
    }
}

QString KavrelMiniTranscriptPanel::shownText() const
{
    return m_text->isVisibleTo(this) ? m_text->text() : QString();
}

QString KavrelMiniTranscriptPanel::shownDraft() const
{
    return m_draft->isVisibleTo(this) ? m_draft->text() : QString();
}

void KavrelMiniTranscriptPanel::scrollToBottom()
{
    if (QScrollBar *bar = m_scrollArea->verticalScrollBar())
        bar->setValue(bar->maximum());
}

void KavrelMiniTranscriptPanel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyColours();
    QWidget::changeEvent(event);
}

void KavrelMiniTranscriptPanel::applyColours()
{
    QPalette textPalette = m_text->palette();
    textPalette.setColor(QPalette::WindowText, KavrelSystemColors::label.resolve(palette()));
    m_text->setPalette(textPalette);
    QPalette draftPalette = m_draft->palette();
    draftPalette.setColor(QPalette::WindowText, KavrelSystemColors::secondaryLabel.resolve(palette()));
    m_draft->setPalette(draftPalette);
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

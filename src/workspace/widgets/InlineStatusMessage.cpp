#include "workspace/widgets/InlineStatusMessage.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/widgets/WorkspaceSymbols.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {
constexpr int symbolSize = 15;
constexpr double plateOpacity = 0.10;
}

InlineStatusMessage::InlineStatusMessage(const QColor &tint, QWidget *parent)
    : QWidget(parent), m_tint(tint), m_label(new QLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14 + symbolSize + 10, 12, 14, 12);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    applyTextColour();
    QFont font = m_label->font();
    font.setPixelSize(13);
    m_label->setFont(font);
    layout->addWidget(m_label);
}

void InlineStatusMessage::setText(const QString &text)
{
    m_label->setText(text);
    setAccessibleName(text);
}

QString InlineStatusMessage::text() const
{
    return m_label->text();
}

void InlineStatusMessage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyTextColour();
    QWidget::changeEvent(event);
}

void InlineStatusMessage::applyTextColour()
{
    // The tint itself is too light for text under the light appearance and may be too dark
    // under the dark one: the text takes it only as lighter or darker as it needs to read.
    const QColor plate = KavrelPainting::blend(palette().color(QPalette::Window), m_tint, plateOpacity);
    QPalette colours = m_label->palette();
    colours.setColor(QPalette::WindowText, kavrelReadableOn(m_tint, plate));
    m_label->setPalette(colours);
}

void InlineStatusMessage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = m_tint;
    fill.setAlphaF(plateOpacity);
    painter.fillPath(KavrelPainting::continuousRoundedRect(rect(), 14), fill);
    WorkspaceSymbols::paint(painter, QRectF(14, (height() - symbolSize) / 2.0, symbolSize, symbolSize),
                            QStringLiteral("exclamationmark.triangle.fill"), m_tint);
}

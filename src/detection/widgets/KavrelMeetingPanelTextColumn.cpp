#include "detection/widgets/KavrelMeetingPanelTextColumn.h"

#include "kit/widgets/KavrelAccessibleFactory.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

KavrelMeetingPanelTextColumn::KavrelMeetingPanelTextColumn(std::vector<Line> lines, QWidget *parent)
    : QWidget(parent), m_lines(std::move(lines))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // The lines are painted: a screen reader reads them whole (never elided) as the prompt's text.
    KavrelAccessibleFactory::registerWidget(staticMetaObject, QAccessible::StaticText);
    QStringList texts;
    for (const Line &line : m_lines) {
        if (!line.text.isEmpty())
            texts.append(line.text);
    }
    setAccessibleName(texts.join(QLatin1Char('\n')));
}

QString KavrelMeetingPanelTextColumn::textOfLine(std::size_t index) const
{
    return index < m_lines.size() ? m_lines[index].text : QString();
}

QFont KavrelMeetingPanelTextColumn::fontOf(const Line &line) const
{
    QFont lineFont = font();
    lineFont.setPixelSize(line.pixelSize);
    lineFont.setWeight(line.weight);
    return lineFont;
}

QSize KavrelMeetingPanelTextColumn::sizeHint() const
{
    double width = 0;
    double height = 0;
    for (const Line &line : m_lines) {
        const QFontMetricsF metrics(fontOf(line));
        width = std::max(width, metrics.horizontalAdvance(line.text));
        height += metrics.height();
    }
    if (!m_lines.empty())
        height += spacing * double(m_lines.size() - 1);
    return QSize(int(std::ceil(std::min(width, maximumNaturalWidth))), int(std::ceil(height)));
}

QSize KavrelMeetingPanelTextColumn::minimumSizeHint() const
{
    return QSize(60, sizeHint().height());
}

void KavrelMeetingPanelTextColumn::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    double y = (height() - sizeHint().height()) / 2.0;
    for (const Line &line : m_lines) {
        const QFont lineFont = fontOf(line);
        const QFontMetricsF metrics(lineFont);
        painter.setFont(lineFont);
        painter.setPen(line.color.resolve(palette(), line.opacity));
        const QString shown = metrics.elidedText(line.text, Qt::ElideRight, width());
        painter.drawText(QRectF(0, y, width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
        y += metrics.height() + spacing;
    }
}

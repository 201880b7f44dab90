#include "screens/widgets/KavrelSidebarButton.h"

#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/widgets/KavrelScreenSymbols.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace {
constexpr qreal tileSide = 54;
constexpr qreal verticalPadding = 12;
constexpr qreal captionGap = 10;
} // namespace

KavrelSidebarButton::KavrelSidebarButton(const QString &title, const QString &systemImage, QWidget *parent)
    : QAbstractButton(parent), m_systemImage(systemImage)
{
    setText(title);
    setAccessibleName(title);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont captionFont = font();
    captionFont.setPixelSize(13);
    captionFont.setWeight(QFont::Medium);
    setFont(captionFont);
    // Layouts reckon with its whole wrapped caption as its least height, not only as a wish.
    setMinimumHeight(sizeHint().height());
}

void KavrelSidebarButton::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

QSize KavrelSidebarButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const int lines = captionText(100).count(QLatin1Char('\n')) + 1;
    const qreal height = verticalPadding * 2 + tileSide + captionGap + lines * metrics.lineSpacing();
    return QSize(100, int(std::ceil(height)));
}

// The caption broken into at most two lines; the rest of a longer one is cut.
QString KavrelSidebarButton::captionText(qreal width) const
{
    QTextLayout layout(text(), font());
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    while (lines.size() < 2) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lines.append(text().mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines.join(QLatin1Char('\n'));
}

void KavrelSidebarButton::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

void KavrelSidebarButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.8);
    const QRectF tile((width() - tileSide) / 2, verticalPadding, tileSide, tileSide);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), 16);
    using namespace KavrelShellTheme;
    KavrelPainting::fillAndStroke(painter, shape, (m_selected ? selectedButtonFill : buttonFill).resolve(palette()),
                                  (m_selected ? selectedButtonBorder : buttonBorder).resolve(palette()));
    KavrelFocusRing::paint(painter, this, KavrelPainting::continuousRoundedRect(tile.adjusted(-2, -2, 2, 2), 18),
                           palette().color(QPalette::Window));
    const qreal symbolSide = 20;
    KavrelScreenSymbols::paint(painter, QRectF(tile.center() - QPointF(symbolSide / 2, symbolSide / 2), QSizeF(symbolSide, symbolSide)),
                               m_systemImage, (m_selected ? selectedButtonIcon : buttonIcon).resolve(palette()));
    painter.setPen((m_selected ? selectedButtonText : buttonText).resolve(palette()));
    painter.setFont(font());
    const QRectF caption(0, tile.bottom() + captionGap, width(), height() - tile.bottom() - captionGap);
    painter.drawText(caption, Qt::AlignHCenter | Qt::AlignTop, captionText(width()));
}

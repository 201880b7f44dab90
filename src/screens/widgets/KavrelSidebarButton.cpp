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
struct Metrics
{
    qreal tileSide;
    qreal verticalPadding;
    qreal captionGap;
};
constexpr Metrics roomy{54, 12, 10};
// A short window: smaller tiles closer together, so every caption keeps its room.
constexpr Metrics compact{38, 4, 4};
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

void KavrelSidebarButton::setCompact(bool compact)
{
    if (m_compact == compact)
        return;
    m_compact = compact;
    setMinimumHeight(sizeHint().height());
    updateGeometry();
    update();
}

void KavrelSidebarButton::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

int KavrelSidebarButton::heightIn(bool compactForm) const
{
    const Metrics &m = compactForm ? compact : roomy;
    const QFontMetricsF metrics(font());
    const int lines = captionText(100).count(QLatin1Char('\n')) + 1;
    return int(std::ceil(m.verticalPadding * 2 + m.tileSide + m.captionGap + lines * metrics.lineSpacing()));
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
    const Metrics &m = m_compact ? compact : roomy;
    const QRectF tile((width() - m.tileSide) / 2, m.verticalPadding, m.tileSide, m.tileSide);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), m.tileSide * 16 / 54);
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
    const QRectF caption(0, tile.bottom() + m.captionGap, width(), height() - tile.bottom() - m.captionGap);
    painter.drawText(caption, Qt::AlignHCenter | Qt::AlignTop, captionText(width()));
}

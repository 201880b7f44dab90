#include "workspace/widgets/MicrophoneLevelBars.h"

#include "app/KavrelPalette.h"
#include "app/widgets/KavrelPainting.h"
#include "workspace/WorkspaceRules.h"

#include <QPainter>

MicrophoneLevelBars::MicrophoneLevelBars(QWidget *parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
}

void MicrophoneLevelBars::setLevel(double level, bool isActive)
{
    if (litBars() == WorkspaceRules::litLevelBars(level) && m_isActive == isActive) {
        m_level = level;
        return;
    }
    m_level = level;
    m_isActive = isActive;
    update();
}

int MicrophoneLevelBars::litBars() const
{
    return m_isActive ? WorkspaceRules::litLevelBars(m_level) : 0;
}

void MicrophoneLevelBars::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int lit = litBars();
    for (int bar = 0; bar < 4; ++bar) {
        const double barHeight = 8 + 4 * bar;
        const QRectF shape(bar * 7, height() - barHeight, 4, barHeight);
        QColor fill;
        if (!m_isActive)
            fill = KavrelSystemColors::secondaryLabel.resolve(palette(), 0.25);
        else if (bar < lit)
            fill = QColor::fromRgbF(0.2, 0.78, 0.41);
        else
            fill = QColor::fromRgbF(1, 1, 1, 0.35);
        painter.fillPath(KavrelPainting::continuousRoundedRect(shape, 2), fill);
    }
}

#include "workspace/widgets/SlimScrollBars.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

namespace SlimScrollBars {

void apply(QAbstractScrollArea *area)
{
    // A grey that reads on light and dark backgrounds alike.
    static const QString style = QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 10px; margin: 6px 2px 6px 0; }"
        "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 115); border-radius: 4px; min-height: 28px; }"
        "QScrollBar::handle:vertical:hover { background: rgba(128, 128, 128, 170); }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }");
    area->verticalScrollBar()->setStyleSheet(style);
}

} // namespace SlimScrollBars

#include "kit/widgets/KavrelSlimScrollBars.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

namespace KavrelSlimScrollBars {

void apply(QAbstractScrollArea *area)
{
    // A grey that reads on light and dark backgrounds alike.
    static const QString vertical = QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 10px; margin: 6px 2px 6px 0; }"
        "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 115); border-radius: 4px; min-height: 28px; }"
        "QScrollBar::handle:vertical:hover { background: rgba(128, 128, 128, 170); }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }");
    static const QString horizontal = QStringLiteral(
        "QScrollBar:horizontal { background: transparent; height: 10px; margin: 0 6px 2px 6px; }"
        "QScrollBar::handle:horizontal { background: rgba(128, 128, 128, 115); border-radius: 4px; min-width: 28px; }"
        "QScrollBar::handle:horizontal:hover { background: rgba(128, 128, 128, 170); }"
        "QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; border: none; }"
        "QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: transparent; }");
    area->verticalScrollBar()->setStyleSheet(vertical);
    area->horizontalScrollBar()->setStyleSheet(horizontal);
}

} // namespace KavrelSlimScrollBars

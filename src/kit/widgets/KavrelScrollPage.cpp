#include "kit/widgets/KavrelScrollPage.h"

#include "kit/widgets/KavrelSlimScrollBars.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace KavrelScrollPage {

QScrollArea *install(QWidget *owner)
{
    auto *outer = new QVBoxLayout(owner);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *area = new QScrollArea(owner);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    // A page is no Tab stop of its own: it scrolls to the control the keyboard reaches in it.
    area->setFocusPolicy(Qt::NoFocus);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Shown only while the content is taller than the window; styles with transient scroll
    // bars keep it out of sight until the user scrolls.
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    KavrelSlimScrollBars::apply(area);
    area->viewport()->setAutoFillBackground(false);
    outer->addWidget(area);
    return area;
}

void setPage(QScrollArea *area, QWidget *page)
{
    area->setWidget(page);
    page->setAutoFillBackground(false); // setWidget() turned it on
}

} // namespace KavrelScrollPage

#pragma once

#include <QWidget>

namespace KavrelFocusRing {

// Whether a control should draw its focus ring: it has the focus and the user moved it there
// with the keyboard (a click or a newly shown window draws none).
inline bool shows(const QWidget *widget)
{
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

} // namespace KavrelFocusRing

#pragma once

#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelIconButton.h"

#include <QSize>
#include <QString>

// The main window's buttons, made from the kit's.
namespace WorkspaceButtons {

// A toolbar button with a symbol and a title on a soft rounded plate; the active look (focus
// mode on) is darker with the primary text colour.
KavrelCapsuleButton *toolbar(QWidget *parent);
void setToolbarContent(KavrelCapsuleButton *button, const QString &title, const QString &symbol, bool isActive);

// A borderless button that is only a symbol (copy, close, text size): secondary colour, a faint
// plate under the pointer and a focus ring; disabled, the symbol fades. Its help text is the
// tooltip and the accessible name.
KavrelIconButton *icon(const QString &symbol, QSize size, double symbolSize, QWidget *parent);

} // namespace WorkspaceButtons

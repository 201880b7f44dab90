#pragma once

// A control that keeps the keyboard while its name or its availability changes (the start button
// that becomes the stop button, a microphone switch, a control held unable to act while its work
// runs) is told to a screen reader as the keyboard coming to it is: the reader then speaks it
// whole, its new name, its role and whether it can act.
//
// Neither of the usual ways reaches the user. Qt 6.4's bus bridge tells of a new name with the
// object where the name belongs, a form screen readers drop; and Orca speaks a control that keeps
// the focus only when the focus comes to an object it has not spoken yet (a focus on the object it
// is on is no news, and a button's new name or state alone is spoken as its expandable state,
// nothing for a plain button). So the control is handed out anew, under a new identity on the bus,
// and a focus event tells of it, as when the focus moved to another control before controls kept
// the keyboard. A change that leaves the control reading as it was last told (a view refreshed
// with the name it shows already) tells nothing: the reader would say the same control again.
//
// Everything Qt tells the bus passes through (or to whoever listened before, as a test may)
// unchanged, but a change of a secret field's text, which goes as its mask tells it
// (KavrelBoundedText::masked()); the announcement follows once the change is done. Main thread only.
namespace KavrelKeptFocusAnnouncer {

void install();

} // namespace KavrelKeptFocusAnnouncer

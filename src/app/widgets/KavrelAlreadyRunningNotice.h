#pragma once

#include <functional>

class KavrelLocalizationStore;
class QMessageBox;

// What a second copy of the program shows when another copy already runs with the same settings
// file (started with another runtime folder, it finds no one to hand its request to): a message
// box that says so, in the interface language. Started from the desktop's menu, the copy has no
// other way to tell the user why nothing opens.
namespace KavrelAlreadyRunningNotice {

// Opens the notice; `closed` runs once the user has closed it, however (its button, Escape, the
// window's close button). The box deletes itself then.
QMessageBox *open(const KavrelLocalizationStore &localization, std::function<void()> closed);

} // namespace KavrelAlreadyRunningNotice

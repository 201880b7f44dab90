#pragma once

#include <QString>

#include <functional>

class KavrelLocalizationStore;
class QMessageBox;

// What a second copy of the program shows when another copy already runs with the same settings
// file (started with another runtime folder, it finds no one to hand its request to): a message
// box that says so, in the interface language. Started from the desktop's menu, the copy has no
// other way to tell the user why nothing opens. The same box tells of a copy that holds the
// instance socket but does not answer (it hangs, or its process is stopped): nothing opens until
// that copy is ended, and the box says how.
namespace KavrelAlreadyRunningNotice {

// Opens the notice; `closed` runs once the user has closed it, however (its button, Escape, the
// window's close button). The box deletes itself then.
QMessageBox *open(const KavrelLocalizationStore &localization, std::function<void()> closed);

// The heading and the text about a copy that does not answer; `processId` (0 when unknown) goes
// into the command that ends it. The text is also what a start without a display writes to its
// error output.
QString notAnsweringHeading(const KavrelLocalizationStore &localization);
QString notAnsweringText(const KavrelLocalizationStore &localization, qint64 processId);
// Opens the notice about a copy that does not answer, as open() does.
QMessageBox *openNotAnswering(const KavrelLocalizationStore &localization, qint64 processId,
                              std::function<void()> closed);

} // namespace KavrelAlreadyRunningNotice

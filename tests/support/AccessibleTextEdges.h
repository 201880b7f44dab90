#pragma once

// What a screen reader asks of a text field's text at its edges, as it does whenever the caret
// moves: the character, word, sentence, line or paragraph at, before and after an offset, where
// the offset is the caret at the end of the text, the end itself (-1), past it or far out. Each
// question is asked under a watchdog (CallWatchdog.h): one that does not return ends the test and
// names itself.

#include <QAccessible>
#include <QList>
#include <QString>
#include <QStringList>

namespace AccessibleTextEdges {

enum class Around { At, Before, After };

struct Answer
{
    QString text;
    int start = -1;
    int end = -1;
};

// One question of `text`, naming `part` (and the question) if it hangs.
Answer ask(QAccessibleTextInterface *text, Around around, QAccessible::TextBoundaryType boundary, int offset,
           const QString &part);

const QList<QAccessible::TextBoundaryType> &allBoundaries();

// Asks `accessible`'s text, when it has one, at, before and after the offsets -2 (the caret), -1
// (the end), 0, 1, the last character, the end, one and a hundred past it, INT_MAX and INT_MIN,
// for each kind of item in `boundaries`. An answer must give a range in the text with the text of
// that range, or nothing at -1, -1; a password field gives none of its text. One line a fault.
QStringList askEdges(QAccessibleInterface *accessible, const QString &part,
                     const QList<QAccessible::TextBoundaryType> &boundaries = allBoundaries());

} // namespace AccessibleTextEdges

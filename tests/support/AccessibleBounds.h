#pragma once

// What a screen reader may ask of every accessible part, the way one that keeps what it read a
// moment ago does: a child at -1, at the count, past it and far past it; a cell, a row or a
// column out of range; after the content changed, a child at a count read before the change; and
// of a text, the items at its edges (AccessibleTextEdges.h), which must each come back.
// Asking must not crash, and nothing out of range may be answered: no child, and for a cell only
// one that is not valid (the accessibility bus bridge reads a table-cell interface from any cell a
// lookup gives, so a table hands out an invalid one, never none). Screenshots::write() runs it
// for every scene.

#include <QAccessible>
#include <QHash>
#include <QList>
#include <QStringList>

class QWidget;

namespace AccessibleBounds {

// The child counts seen on a walk, for the questions of the next walk.
using Counts = QHash<QAccessible::Id, int>;

// Walks every interface under the roots (depth first, each once) and asks the questions above;
// also asks each interface still alive from `before` for children at the count it had then. One
// line for each answer out of range.
QStringList walk(const QList<QAccessibleInterface *> &roots, Counts *counts = nullptr, const Counts &before = {});

// Fails the running test with what walk() finds under `scene`, naming it `sceneName`.
void verify(QWidget *scene, const QString &sceneName);

} // namespace AccessibleBounds

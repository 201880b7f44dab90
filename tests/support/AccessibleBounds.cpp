#include "AccessibleBounds.h"

#include "AccessibleTextEdges.h"

#include <QPoint>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <climits>

namespace AccessibleBounds {

namespace {

QString describe(QAccessibleInterface *accessible)
{
    QObject *object = accessible->object();
    const QString className = object ? QString::fromLatin1(object->metaObject()->className()) : QStringLiteral("(part)");
    return QStringLiteral("%1 (role %2, name \"%3\")").arg(className).arg(int(accessible->role())).arg(accessible->text(QAccessible::Name));
}

void askChildren(QAccessibleInterface *accessible, int count, QStringList &faults)
{
    for (const int index : {-1, count, count + 1, count + 2, count + 100, INT_MAX, INT_MIN}) {
        if (accessible->child(index))
            faults.append(describe(accessible) + QStringLiteral(": a child at %1 of %2").arg(index).arg(count));
    }
}

void askTable(QAccessibleInterface *accessible, QStringList &faults)
{
    QAccessibleTableInterface *table = accessible->tableInterface();
    if (!table)
        return;
    const int rows = table->rowCount();
    const int columns = table->columnCount();
    const QPoint cells[] = {{-1, -1}, {-1, 0}, {0, -1}, {rows, 0}, {0, columns}, {rows + 1, columns + 1}, {INT_MAX, INT_MAX}, {INT_MIN, 0}};
    for (const QPoint &at : cells) {
        QAccessibleInterface *cell = table->cellAt(at.x(), at.y());
        const QString where = QStringLiteral(" at row %1, column %2 of %3 × %4").arg(at.x()).arg(at.y()).arg(rows).arg(columns);
        if (!cell || !cell->tableCellInterface())
            faults.append(describe(accessible) + QStringLiteral(": no cell interface") + where);
        else if (cell->isValid())
            faults.append(describe(accessible) + QStringLiteral(": a cell") + where);
    }
    for (const int row : {-1, rows, INT_MAX}) {
        if (!table->rowDescription(row).isEmpty() || table->isRowSelected(row))
            faults.append(describe(accessible) + QStringLiteral(": row %1 of %2 answers").arg(row).arg(rows));
    }
    for (const int column : {-1, columns, INT_MAX}) {
        if (!table->columnDescription(column).isEmpty() || table->isColumnSelected(column))
            faults.append(describe(accessible) + QStringLiteral(": column %1 of %2 answers").arg(column).arg(columns));
    }
}

// Children at the count read before the content changed, as a screen reader asks for them.
void askFormerCounts(const Counts &before, QStringList &faults)
{
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QAccessibleInterface *accessible = QAccessible::accessibleInterface(it.key());
        if (!accessible || !accessible->isValid())
            continue;
        const int now = accessible->childCount();
        for (const int index : {it.value() - 1, it.value(), it.value() + 1}) {
            if ((index < 0 || index >= now) && accessible->child(index))
                faults.append(describe(accessible) + QStringLiteral(": a child at %1 of %2 (it had %3)").arg(index).arg(now).arg(it.value()));
        }
    }
}

} // namespace

QStringList walk(const QList<QAccessibleInterface *> &roots, Counts *counts, const Counts &before)
{
    QStringList faults;
    askFormerCounts(before, faults);
    QSet<QAccessibleInterface *> seen;
    QList<std::pair<QAccessibleInterface *, int>> stack;
    for (QAccessibleInterface *root : roots)
        stack.append({root, 0});
    while (!stack.isEmpty()) {
        const auto [accessible, depth] = stack.takeLast();
        if (!accessible || !accessible->isValid() || depth > 64 || seen.contains(accessible))
            continue;
        seen.insert(accessible);
        const int count = accessible->childCount();
        if (counts)
            counts->insert(QAccessible::uniqueId(accessible), count);
        askChildren(accessible, count, faults);
        askTable(accessible, faults);
        if (accessible->textInterface()) {
            const QString part = describe(accessible);
            for (const QString &fault : AccessibleTextEdges::askEdges(accessible, part))
                faults.append(part + QStringLiteral(": ") + fault);
        }
        for (int i = 0; i < count; ++i) {
            QAccessibleInterface *child = accessible->child(i);
            if (!child || !child->isValid())
                continue;
            const int index = accessible->indexOfChild(child);
            if (index < -1 || index >= count)
                faults.append(describe(accessible) + QStringLiteral(": child %1 of %2 is said to be at %3").arg(i).arg(count).arg(index));
            stack.append({child, depth + 1});
        }
    }
    return faults;
}

void verify(QWidget *scene, const QString &sceneName)
{
    const QStringList faults = walk({QAccessible::queryAccessibleInterface(scene)});
    if (faults.isEmpty())
        return;
    const QString message = sceneName + QStringLiteral(" answers questions out of range:\n  ") + faults.join(QStringLiteral("\n  "));
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
}

} // namespace AccessibleBounds

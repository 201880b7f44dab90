#include "AccessibleNames.h"

#include "kit/widgets/KavrelSegmentedPicker.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTest>
#include <QWidget>

namespace AccessibleNames {

namespace {

QString describe(QAccessibleInterface *accessible)
{
    QObject *object = accessible->object();
    const QString className = object ? QString::fromLatin1(object->metaObject()->className()) : QStringLiteral("(part)");
    const QString name = object ? object->objectName() : QString();
    return QStringLiteral("%1 \"%2\" (role %3, name \"%4\")")
        .arg(className, name)
        .arg(int(accessible->role()))
        .arg(accessible->text(QAccessible::Name));
}

QStringList pickerFaults(QAccessibleInterface *accessible)
{
    QStringList faults;
    auto *picker = qobject_cast<KavrelSegmentedPicker *>(accessible->object());
    if (!picker)
        return faults;
    if (!accessible->state().focusable)
        faults.append(describe(accessible) + QStringLiteral(": a picker the keyboard cannot reach"));
    QAccessibleActionInterface *actions = accessible->actionInterface();
    if (!actions || !actions->actionNames().contains(QAccessibleActionInterface::pressAction()))
        faults.append(describe(accessible) + QStringLiteral(": a picker without an action"));
    if (accessible->childCount() != picker->segmentCount())
        faults.append(describe(accessible) + QStringLiteral(": segments a screen reader does not see"));
    for (int i = 0; i < accessible->childCount(); ++i) {
        QAccessibleInterface *segment = accessible->child(i);
        if (!segment || segment->text(QAccessible::Name).trimmed().isEmpty())
            faults.append(describe(accessible) + QStringLiteral(": segment %1 without a name").arg(i));
    }
    return faults;
}

void walk(QWidget *root, QAccessibleInterface *accessible, QStringList &faults, int depth)
{
    if (!accessible || !accessible->isValid() || depth > 64)
        return;
    // What shows in the scene (a scene is often rendered without being shown itself).
    auto *widget = qobject_cast<QWidget *>(accessible->object());
    if (widget && widget != root && (widget->window() != root->window() || !widget->isVisibleTo(root)))
        return;
    const QAccessible::State state = accessible->state();
    if (state.focusable && !state.disabled) {
        if (accessible->text(QAccessible::Name).trimmed().isEmpty())
            faults.append(describe(accessible) + QStringLiteral(": takes the keyboard without a name"));
        const QAccessible::Role role = accessible->role();
        if (role == QAccessible::Client || role == QAccessible::NoRole)
            faults.append(describe(accessible) + QStringLiteral(": takes the keyboard as a plain filler"));
    }
    faults += pickerFaults(accessible);
    for (int i = 0; i < accessible->childCount(); ++i)
        walk(root, accessible->child(i), faults, depth + 1);
}

} // namespace

QStringList unnamedIconButtons(QWidget *root)
{
    QStringList unnamed;
    QList<QWidget *> widgets{root};
    widgets += root->findChildren<QWidget *>();
    for (QWidget *widget : std::as_const(widgets)) {
        // What shows in the scene's own window: another window has scenes of its own.
        if (widget != root && (widget->window() != root->window() || !widget->isVisibleTo(root)))
            continue;
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        const bool iconOnly = (button && button->text().trimmed().isEmpty()) || qobject_cast<const KavrelSegmentedPicker *>(widget);
        if (!iconOnly)
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty())
            continue;
        unnamed.append(QStringLiteral("%1 \"%2\" (tooltip \"%3\")")
                           .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName(), widget->toolTip()));
    }
    return unnamed;
}

QStringList unnamedControls(QWidget *root)
{
    QStringList faults;
    walk(root, QAccessible::queryAccessibleInterface(root), faults, 0);
    return faults;
}

void verify(QWidget *scene, const QString &sceneName)
{
    const QStringList unnamed = unnamedIconButtons(scene);
    const QStringList faults = unnamedControls(scene);
    if (unnamed.isEmpty() && faults.isEmpty())
        return;
    QString message;
    if (!unnamed.isEmpty())
        message += sceneName + QStringLiteral(" shows icon buttons without an accessible name:\n  ") + unnamed.join(QStringLiteral("\n  ")) + '\n';
    if (!faults.isEmpty())
        message += sceneName + QStringLiteral(" shows controls a screen reader cannot read or work:\n  ") + faults.join(QStringLiteral("\n  "));
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
}

} // namespace AccessibleNames

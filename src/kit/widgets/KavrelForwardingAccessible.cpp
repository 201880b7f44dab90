#include "kit/widgets/KavrelForwardingAccessible.h"

#include <QColor>
#include <QRect>

bool KavrelForwardingAccessible::isValid() const
{
    const QAccessibleInterface *qt = inner();
    return qt && qt->isValid();
}

QObject *KavrelForwardingAccessible::object() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->object() : nullptr;
}

QWindow *KavrelForwardingAccessible::window() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->window() : nullptr;
}

QList<QPair<QAccessibleInterface *, QAccessible::Relation>> KavrelForwardingAccessible::relations(QAccessible::Relation match) const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->relations(match) : QList<QPair<QAccessibleInterface *, QAccessible::Relation>>();
}

QAccessibleInterface *KavrelForwardingAccessible::focusChild() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? outward(qt->focusChild()) : nullptr;
}

QAccessibleInterface *KavrelForwardingAccessible::childAt(int x, int y) const
{
    const QAccessibleInterface *qt = inner();
    return qt ? outward(qt->childAt(x, y)) : nullptr;
}

QAccessibleInterface *KavrelForwardingAccessible::parent() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->parent() : nullptr;
}

QAccessibleInterface *KavrelForwardingAccessible::child(int index) const
{
    const QAccessibleInterface *qt = inner();
    if (!qt || index < 0 || index >= qt->childCount())
        return nullptr;
    return outward(qt->child(index));
}

int KavrelForwardingAccessible::childCount() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->childCount() : 0;
}

int KavrelForwardingAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    const QAccessibleInterface *qt = inner();
    if (!qt || !child)
        return -1;
    const int index = qt->indexOfChild(child);
    return index >= 0 && index < qt->childCount() ? index : -1;
}

QString KavrelForwardingAccessible::text(QAccessible::Text kind) const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->text(kind) : QString();
}

void KavrelForwardingAccessible::setText(QAccessible::Text kind, const QString &text)
{
    if (QAccessibleInterface *qt = inner())
        qt->setText(kind, text);
}

QRect KavrelForwardingAccessible::rect() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->rect() : QRect();
}

QAccessible::Role KavrelForwardingAccessible::role() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->role() : QAccessible::NoRole;
}

QAccessible::State KavrelForwardingAccessible::state() const
{
    if (const QAccessibleInterface *qt = inner())
        return qt->state();
    QAccessible::State state;
    state.invalid = true;
    return state;
}

QColor KavrelForwardingAccessible::foregroundColor() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->foregroundColor() : QColor();
}

QColor KavrelForwardingAccessible::backgroundColor() const
{
    const QAccessibleInterface *qt = inner();
    return qt ? qt->backgroundColor() : QColor();
}

void *KavrelForwardingAccessible::interface_cast(QAccessible::InterfaceType type)
{
    QAccessibleInterface *qt = inner();
    return qt ? qt->interface_cast(type) : nullptr;
}

void KavrelForwardingAccessible::virtual_hook(int id, void *data)
{
    if (QAccessibleInterface *qt = inner())
        qt->virtual_hook(id, data);
}

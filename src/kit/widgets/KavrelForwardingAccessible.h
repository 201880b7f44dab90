#pragma once

#include <QAccessible>
#include <QAccessibleInterface>

// An interface that answers a screen reader from another one, the interface Qt made for the same
// thing, found anew at each question: Qt may let its own go at any time (a list's cell when the
// model changes, a menu's item with its action), and then this one is no longer valid and answers
// nothing. A child index out of range gives nothing, whatever the other one would do with it.
//
// The kit's bounds are such interfaces (KavrelBoundedAccessible.h over a widget's,
// KavrelBoundedPart.h over a part Qt makes with no widget of its own); each changes only what it
// checks or refuses.
class KavrelForwardingAccessible : public QAccessibleInterface
{
public:
    bool isValid() const override;
    QObject *object() const override;
    QWindow *window() const override;
    QList<QPair<QAccessibleInterface *, QAccessible::Relation>> relations(QAccessible::Relation match) const override;
    QAccessibleInterface *focusChild() const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text kind, const QString &text) override;
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QColor foregroundColor() const override;
    QColor backgroundColor() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;
    void virtual_hook(int id, void *data) override;

protected:
    // The interface answered from, or none once Qt let it go.
    virtual QAccessibleInterface *inner() const = 0;
    // What a client is given for a part the inner interface hands out (a child, the focused one,
    // the one at a point).
    virtual QAccessibleInterface *outward(QAccessibleInterface *part) const { return part; }
};

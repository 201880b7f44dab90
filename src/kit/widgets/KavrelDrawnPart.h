#pragma once

#include <QAccessible>
#include <QAccessibleInterface>

#include <memory>

class KavrelBoundedText;

// A part a widget draws itself, with no widget of its own (a picker's segment, a tab of a tab bar,
// a History card and its buttons), as a screen reader reaches it: a name, a role, a place and a
// state, actions that act as the user's click does, and as its text the words it shows. No one
// renames it or edits its text. It holds no children unless a subclass gives it some; a part
// whose thing is gone is not valid, and answers nothing.
class KavrelDrawnPart : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    KavrelDrawnPart();
    ~KavrelDrawnPart() override;

    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text, const QString &) override {}
    void *interface_cast(QAccessible::InterfaceType type) override;

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

protected:
    // What the part is called, and shows.
    virtual QString name() const = 0;

private:
    std::unique_ptr<KavrelBoundedText> m_words;
};

#pragma once

#include <QAccessibleWidget>
#include <QHash>

#include <memory>

class KavrelBoundedText;
class KavrelHistorySessionList;

// What a screen reader reads of the meeting cards: a list of cards named by their titles, each
// holding its Open and Delete as buttons that press as a click on them does. The card, or the
// button of it that the keyboard is on, reads as focused; announceKeyboard() tells the reader
// when that changes. An index out of range gives nothing.
class KavrelHistoryAccessibleList final : public QAccessibleWidget
{
public:
    explicit KavrelHistoryAccessibleList(KavrelHistorySessionList *list);
    ~KavrelHistoryAccessibleList() override;

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    // A focus event for what of the current card has the keyboard.
    void announceKeyboard();

private:
    KavrelHistorySessionList *list() const;

    // The cards handed out, by meeting id.
    mutable QHash<QString, QAccessible::Id> m_cards;
    std::unique_ptr<KavrelBoundedText> m_words;
};

#pragma once

#include <QListView>

// The list of meeting cards. Besides Qt's list it tells a screen reader where on a card the
// keyboard is: the card, or its Open or Delete when Tab went on to them (which Qt's list cannot
// name, as the card draws them).
class KavrelHistorySessionList final : public QListView
{
    Q_OBJECT

public:
    explicit KavrelHistorySessionList(QWidget *parent = nullptr);

    // Tells a screen reader what of the current card has the keyboard, once Qt has told it of the
    // list itself.
    void announceKeyboard();

protected:
    void focusInEvent(QFocusEvent *event) override;
};

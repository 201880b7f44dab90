#pragma once

#include "history/widgets/KavrelHistoryCardFrame.h"

class KavrelCapsuleButton;
class QLineEdit;

// The history search row: a magnifying glass, the text field and, while there is text, a
// clear button, on a rounded field.
class KavrelHistorySearchField final : public KavrelHistoryCardFrame
{
    Q_OBJECT

public:
    explicit KavrelHistorySearchField(QWidget *parent = nullptr);

    QString text() const;
    // Shows the text without reporting it as typed.
    void setText(const QString &text);
    void retranslate();
    QLineEdit *lineEdit() const { return m_lineEdit; }

Q_SIGNALS:
    // Typed, or cleared with the clear button.
    void textEdited(const QString &text);

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateClearButton();
    void applyTextColor();

    KavrelCapsuleButton *m_searchSymbol = nullptr;
    QLineEdit *m_lineEdit = nullptr;
    KavrelCapsuleButton *m_clearButton = nullptr;
};

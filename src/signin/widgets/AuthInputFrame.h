#pragma once

#include <QWidget>

class QHBoxLayout;
class QLineEdit;

// The box of the sign-in inputs: a 50 px high rounded field whose border turns into a 2 px
// purple line while its text field has the keyboard focus. Subclasses put the text field
// (and whatever goes beside it) into layout().
class AuthInputFrame : public QWidget
{
    Q_OBJECT

public:
    QLineEdit *lineEdit() const { return m_lineEdit; }
    bool hasInputFocus() const { return m_focused; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // The user changed the text (not a programmatic update).
    void textEdited(const QString &text);

protected:
    AuthInputFrame(const QString &placeholderKey, int trailingPadding, QWidget *parent);

    QHBoxLayout *rowLayout() const { return m_row; }
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyTextColors();

    QLineEdit *m_lineEdit;
    QHBoxLayout *m_row;
    bool m_focused = false;
};

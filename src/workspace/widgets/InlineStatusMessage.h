#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

// A status line with a warning symbol on a faint plate of its tint (the error line in red,
// the translation notice in orange). The text wraps and is plain text.
class InlineStatusMessage final : public QWidget
{
    Q_OBJECT

public:
    explicit InlineStatusMessage(const QColor &tint, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyTextColour();


    QColor m_tint;
    QLabel *m_label;
};

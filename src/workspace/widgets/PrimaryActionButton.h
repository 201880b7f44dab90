#pragma once

#include <QAbstractButton>
#include <QColor>

// The large start/stop button of the toolbar: a gradient of its tint with a symbol, a bold
// title and an optional small subtitle, in white. Disabled, the whole button is drawn dimmed.
class PrimaryActionButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit PrimaryActionButton(QWidget *parent = nullptr);

    void setContent(const QString &title, const QString &subtitle, const QString &symbol, const QColor &tint);
    QString subtitle() const { return m_subtitle; }
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QFont titleFont() const;
    QFont subtitleFont() const;

    QString m_subtitle;
    QString m_symbol;
    QColor m_tint;
};

#pragma once

#include <QAbstractButton>
#include <QColor>

// A borderless button that is only a symbol (copy, close, text size): secondary colour, a
// faint plate under the pointer, a focus ring, and its help text as tooltip and accessible
// name. Disabled, it is drawn faded.
class WorkspaceIconButton final : public QAbstractButton
{
    Q_OBJECT

public:
    WorkspaceIconButton(const QString &symbol, QSize size, double symbolSize, QWidget *parent = nullptr);

    void setHelpText(const QString &text);
    void setSymbolColor(const QColor &color);
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override { return m_size; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_symbol;
    QSize m_size;
    double m_symbolSize;
    std::optional<QColor> m_color;
    bool m_hovered = false;
};

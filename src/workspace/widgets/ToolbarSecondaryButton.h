#pragma once

#include <QAbstractButton>

// A toolbar button with a symbol and a title on a soft rounded plate; the active look (focus
// mode on) is darker with the primary text colour.
class ToolbarSecondaryButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ToolbarSecondaryButton(QWidget *parent = nullptr);

    void setContent(const QString &title, const QString &symbol, bool isActive);
    bool isActive() const { return m_isActive; }
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont titleFont() const;

    QString m_symbol;
    bool m_isActive = false;
};

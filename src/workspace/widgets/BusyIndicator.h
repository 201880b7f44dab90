#pragma once

#include <QVariantAnimation>
#include <QWidget>

// A small turning arc that says a request is under way; it turns only while shown.
class BusyIndicator final : public QWidget
{
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget *parent = nullptr);
    QSize sizeHint() const override { return QSize(20, 20); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QVariantAnimation m_spin;
};

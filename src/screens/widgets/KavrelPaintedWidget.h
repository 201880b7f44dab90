#pragma once

#include <QVariantAnimation>
#include <QWidget>

#include <functional>

// A small fixed-size widget drawn by a function: status dots, spinners. With spinning on, the
// function gets a phase from 0 to 1 that turns once a second.
class KavrelPaintedWidget final : public QWidget
{
    Q_OBJECT

public:
    using Painter = std::function<void(QPainter &painter, const QRectF &bounds, const QPalette &palette, qreal phase)>;

    KavrelPaintedWidget(QSize size, Painter painter, QWidget *parent = nullptr);

    void setSpinning(bool spinning);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Painter m_painter;
    QVariantAnimation m_phase;
};

#pragma once

#include <QColor>
#include <QWidget>

// The boxed background of a text body: a rounded rectangle filled and outlined in faint
// shades of a colour (the secondary label colour unless a fixed tint is given).
class PanelBox final : public QWidget
{
    Q_OBJECT

public:
    PanelBox(double radius, std::optional<QColor> tint, double fillOpacity, double borderOpacity, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_radius;
    std::optional<QColor> m_tint;
    double m_fillOpacity;
    double m_borderOpacity;
};

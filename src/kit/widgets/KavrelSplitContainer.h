#pragma once

#include "kit/widgets/KavrelSplitDivider.h"

#include <QPointer>
#include <QWidget>

// Two panels side by side (Qt::Horizontal) or one above the other (Qt::Vertical) with a
// draggable divider between them. The first panel takes `fraction` of the length; see
// KavrelSplitGeometry for the arithmetic. A drag moves the split at once and reports the new
// fraction through fractionDragged(), for the owner to store. While the second panel is
// hidden, the first fills the container alone and the divider is hidden.
class KavrelSplitContainer final : public QWidget
{
    Q_OBJECT

public:
    struct Style
    {
        double minimumPane = 90;
        double dividerExtent = 8;         // the divider's hit area along the split axis
        double dividerCrossLength = 24;   // and across it
        double spacing = 0;               // between each panel and the divider
        bool dividerAtStart = false;      // side by side: at the top edge instead of centred
        double lowestFraction = 0.2;
        double highestFraction = 0.8;
        KavrelSplitDivider::Look divider;
    };

    explicit KavrelSplitContainer(QWidget *parent = nullptr);

    void setStyle(const Style &style);
    // Panels are reparented to the container.
    void setPanels(QWidget *first, QWidget *second);
    void setOrientation(Qt::Orientation orientation);
    Qt::Orientation orientation() const { return m_orientation; }
    void setFraction(double fraction);
    double fraction() const { return m_fraction; }
    // Also stored as the divider's accessible name.
    void setDividerAccessibleName(const QString &name);

    KavrelSplitDivider *divider() const { return m_divider; }
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void fractionDragged(double fraction);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void relayout();
    bool showsSecond() const;

    Style m_style;
    Qt::Orientation m_orientation = Qt::Horizontal;
    double m_fraction = 0.5;
    QPointer<QWidget> m_first;
    QPointer<QWidget> m_second;
    KavrelSplitDivider *m_divider = nullptr;
};

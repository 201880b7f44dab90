#pragma once

#include "kit/widgets/KavrelTabList.h"

#include <QList>
#include <QString>
#include <QWidget>

// A row of segments in a capsule, each showing a symbol; one value is selected, or none when
// the current value matches no segment. Clicking a segment reports its value; so do the arrow
// keys (the neighbouring segment) and Space or Return (the next one, round) while it has the
// focus. A screen reader reads it as a list of tabs, one for each segment's name.
class KavrelSegmentedPicker final : public QWidget, public KavrelTabList
{
    Q_OBJECT

public:
    struct Segment
    {
        QString value;
        QString symbol;
        QString name; // what a screen reader says for the segment's symbol
    };

    explicit KavrelSegmentedPicker(QList<Segment> segments, QWidget *parent = nullptr);

    void setValue(const QString &value);
    QString value() const { return m_value; }
    // The segments' names, in their order (the interface language may change them).
    void setSegmentNames(const QStringList &names);
    qsizetype segmentCount() const { return m_segments.size(); }
    const Segment &segment(qsizetype index) const { return m_segments.at(index); }
    qsizetype selectedIndex() const;
    QRect segmentArea(qsizetype index) const { return segmentRect(index).toAlignedRect(); }
    // Selects a segment as a click on it does, reporting its value.
    void pick(qsizetype index);

    QSize sizeHint() const override;

    int tabCount() const override { return int(segmentCount()); }
    QString tabName(int index) const override { return segment(index).name; }
    int selectedTab() const override { return int(selectedIndex()); }
    QRect tabArea(int index) const override { return segmentArea(index); }
    void pickTab(int index) override { pick(index); }

Q_SIGNALS:
    void picked(const QString &value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    QRectF segmentRect(qsizetype index) const;

    QList<Segment> m_segments;
    QString m_value;
};

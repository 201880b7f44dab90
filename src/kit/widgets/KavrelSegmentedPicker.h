#pragma once

#include <QList>
#include <QString>
#include <QWidget>

// A row of segments in a capsule, each showing a symbol; one value is selected, or none when
// the current value matches no segment. Clicking a segment reports its value.
class KavrelSegmentedPicker final : public QWidget
{
    Q_OBJECT

public:
    struct Segment
    {
        QString value;
        QString symbol;
    };

    explicit KavrelSegmentedPicker(QList<Segment> segments, QWidget *parent = nullptr);

    void setValue(const QString &value);
    QString value() const { return m_value; }
    QSize sizeHint() const override;

Q_SIGNALS:
    void picked(const QString &value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QRectF segmentRect(int index) const;

    QList<Segment> m_segments;
    QString m_value;
};

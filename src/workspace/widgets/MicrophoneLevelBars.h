#pragma once

#include <QWidget>

// Four bars of growing height that light from the shortest up as the microphone level
// reaches 0.25, 0.5, 0.75 and 1; grey while the microphone is neither captured nor tested.
class MicrophoneLevelBars final : public QWidget
{
    Q_OBJECT

public:
    explicit MicrophoneLevelBars(QWidget *parent = nullptr);

    void setLevel(double level, bool isActive);
    int litBars() const;
    bool isActive() const { return m_isActive; }

    QSize sizeHint() const override { return QSize(4 * 4 + 3 * 3, 20); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_level = 0;
    bool m_isActive = false;
};

#pragma once

#include "kit/KavrelPalette.h"

#include <QFont>
#include <QWidget>

#include <vector>

// The stacked lines of a meeting prompt (title, application, detail), each one line in its
// own font and colour, elided at the end when the room runs out.
class KavrelMeetingPanelTextColumn final : public QWidget
{
    Q_OBJECT

public:
    struct Line
    {
        QString text;
        int pixelSize = 13;
        QFont::Weight weight = QFont::Normal;
        KavrelDynamicColor color = KavrelSystemColors::label;
        double opacity = 1.0;
    };

    explicit KavrelMeetingPanelTextColumn(std::vector<Line> lines, QWidget *parent = nullptr);

    QString textOfLine(std::size_t index) const;
    std::size_t lineCount() const { return m_lines.size(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static constexpr int spacing = 4;
    // Longer lines (a long application name) are elided rather than widen the panel further.
    static constexpr double maximumNaturalWidth = 220;
    QFont fontOf(const Line &line) const;

    std::vector<Line> m_lines;
};

#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>

#include <optional>

// A button of the meeting prompts: a rounded rectangle (radius 12) filled with a colour or a
// gradient, an optional symbol and a text, sized to its content plus padding at a fixed height.
class KavrelMeetingPromptButton final : public QAbstractButton
{
    Q_OBJECT

public:
    struct Look
    {
        KavrelDynamicColor fill = kavrelFixed({0, 0, 0, 1});
        double fillOpacity = 1.0;
        // When set, the fill runs from `fill` at the top-leading corner to this at the bottom-trailing one.
        std::optional<KavrelDynamicColor> gradientEnd;
        KavrelDynamicColor foreground = kavrelFixed({1, 1, 1, 1});
        QString symbol;
        double symbolSize = 13;
        double horizontalPadding = 16;
        int height = 44;
    };

    explicit KavrelMeetingPromptButton(const Look &look, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static constexpr double symbolGap = 8;
    Look m_look;
};

#pragma once

#include "signin/widgets/OnboardingCard.h"

#include <optional>

// An information card of the onboarding's right column, with an optional soft tint that
// glows from its top-leading corner. The caller fills contentLayout().
class InsightCard final : public OnboardingCard
{
    Q_OBJECT

public:
    // The accent carries its own opacity.
    explicit InsightCard(std::optional<KavrelDynamicColor> accent, QWidget *parent = nullptr);

protected:
    void paintOverlay(QPainter &painter, const QPainterPath &shape) override;

private:
    std::optional<KavrelDynamicColor> m_accent;
};

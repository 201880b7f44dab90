#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

// One line of "What turns on after setup": a tinted round icon, a title and a subtitle.
// Texts are interface keys.
class BenefitRow final : public QWidget
{
    Q_OBJECT

public:
    BenefitRow(KavrelDynamicColor tint, const QString &symbol, const QString &titleKey, const QString &subtitleKey,
               QWidget *parent = nullptr);
};

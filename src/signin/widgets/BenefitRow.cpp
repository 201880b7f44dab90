#include "signin/widgets/BenefitRow.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/SymbolTile.h"
#include "signin/widgets/ThemedLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

BenefitRow::BenefitRow(KavrelDynamicColor tint, const QString &symbol, const QString &titleKey,
                       const QString &subtitleKey, QWidget *parent)
    : QWidget(parent)
{
    const KavrelLocalizationStore &localization = KavrelLocalizationStore::shared();
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    SymbolTile::Look look;
    look.shape = SymbolTile::Shape::circle;
    look.side = 40;
    look.fill = tint;
    look.fillOpacity = 0.12;
    look.symbolSize = 18;
    look.symbolColor = tint;
    row->addWidget(new SymbolTile(symbol, look, this), 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(new ThemedLabel(localization.localized(titleKey), 15, QFont::Bold, KavrelSystemColors::label, this));
    auto *subtitle = new ThemedLabel(localization.localized(subtitleKey), 13, QFont::Medium, KavrelSystemColors::secondaryLabel, this);
    subtitle->setWordWrap(true);
    texts->addWidget(subtitle);
    row->addLayout(texts, 1);
}

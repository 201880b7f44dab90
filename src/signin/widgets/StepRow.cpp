#include "signin/widgets/StepRow.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/SymbolTile.h"
#include "signin/widgets/ThemedLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

StepRow::StepRow(const QString &titleKey, const QString &subtitleKey, QWidget *parent) : QWidget(parent)
{
    const KavrelLocalizationStore &localization = KavrelLocalizationStore::shared();
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    SymbolTile::Look look;
    look.side = 20;
    look.symbolSize = 18;
    m_mark = new SymbolTile(QString(), look, this);
    row->addWidget(m_mark, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(new ThemedLabel(localization.localized(titleKey), 15, QFont::Bold, KavrelSystemColors::label, this));
    auto *subtitle = new ThemedLabel(localization.localized(subtitleKey), 13, QFont::Medium, KavrelSystemColors::secondaryLabel, this);
    subtitle->setWordWrap(true);
    texts->addWidget(subtitle);
    row->addLayout(texts, 1);
    setComplete(false);
}

void StepRow::setComplete(bool complete)
{
    m_complete = complete;
    if (complete)
        m_mark->setSymbol(QStringLiteral("checkmark.circle.fill"), SignInTheme::green);
    else
        m_mark->setSymbol(QStringLiteral("circle.dashed"), KavrelSystemColors::secondaryLabel);
}

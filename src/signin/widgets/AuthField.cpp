#include "signin/widgets/AuthField.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/ThemedLabel.h"

#include <QVBoxLayout>

AuthField::AuthField(const QString &titleKey, QWidget *content, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new ThemedLabel(KavrelLocalizationStore::shared().localized(titleKey), 13, QFont::DemiBold,
                                      KavrelSystemColors::secondaryLabel, this));
    // The control answers to the field's title (tests and accessibility find it by that).
    if (content->objectName().isEmpty())
        content->setObjectName(titleKey);
    layout->addWidget(content);
}

#include "signin/widgets/AuthField.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/AuthInputFrame.h"
#include "signin/widgets/ThemedLabel.h"

#include <QLineEdit>
#include <QVBoxLayout>

AuthField::AuthField(const QString &titleKey, QWidget *content, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    const QString title = KavrelLocalizationStore::shared().localized(titleKey);
    layout->addWidget(new ThemedLabel(title, 13, QFont::DemiBold, KavrelSystemColors::secondaryLabel, this));
    // A screen reader names the text field by the title above it; the label is no buddy of a
    // field inside a frame.
    if (auto *input = qobject_cast<AuthInputFrame *>(content))
        input->lineEdit()->setAccessibleName(title);
    // The control answers to the field's title (tests and accessibility find it by that).
    if (content->objectName().isEmpty())
        content->setObjectName(titleKey);
    layout->addWidget(content);
}

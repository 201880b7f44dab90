#include "detection/widgets/KavrelMeetingPanelParts.h"

#include "kit/widgets/KavrelCapsuleButton.h"
#include "localization/KavrelLocalizationStore.h"

#include <QHBoxLayout>

namespace KavrelMeetingPanelParts {

QBoxLayout *makeRow(QWidget *view)
{
    auto *row = new QHBoxLayout(view);
    row->setSpacing(14);
    row->setContentsMargins(14, 12, 14, 12);
    return row;
}

namespace {

void onClick(KavrelCapsuleButton *button, std::function<void()> action)
{
    QObject::connect(button, &KavrelCapsuleButton::clicked, button, [action = std::move(action)] {
        if (action)
            action();
    });
}

} // namespace

KavrelCapsuleButton *makeCloseButton(QWidget *parent, std::function<void()> action)
{
    auto *button = new KavrelCapsuleButton(parent);
    button->setObjectName(QStringLiteral("closeButton"));
    button->setSymbol(QStringLiteral("xmark"));
    button->setFixedContentSize(QSize(20, 20));
    button->setFocusPolicy(Qt::NoFocus);
    button->setAccessibleName(KavrelLocalizationStore::shared().localized(QStringLiteral("Hide panel")));
    KavrelCapsuleButton::Look look;
    look.fill = KavrelSystemColors::label;
    look.fillOpacity = 0.08 / 0.85;
    look.strokeOpacity = 0;
    look.foreground = KavrelSystemColors::secondaryLabel;
    look.symbolSize = 9;
    look.horizontalPadding = 0;
    button->setLook(look);
    onClick(button, std::move(action));
    return button;
}

KavrelCapsuleButton::Look promptButtonLook(KavrelDynamicColor fill)
{
    KavrelCapsuleButton::Look look;
    look.fill = fill;
    look.fillOpacity = 1;
    look.brightensOnHover = false;
    look.strokeOpacity = 0;
    look.foreground = kavrelFixed({1, 1, 1, 1});
    look.cornerRadius = 12;
    look.inset = 0;
    look.height = 44;
    look.symbolSize = 13;
    look.symbolSpacing = 8;
    look.horizontalPadding = 16;
    look.pressedOpacity = 0.8;
    return look;
}

KavrelCapsuleButton *makePromptButton(QWidget *parent, const KavrelCapsuleButton::Look &look, const QString &symbol,
                                      std::function<void()> action)
{
    auto *button = new KavrelCapsuleButton(parent);
    button->setLook(look);
    button->setSymbol(symbol);
    button->setFocusPolicy(Qt::NoFocus);
    onClick(button, std::move(action));
    return button;
}

} // namespace KavrelMeetingPanelParts

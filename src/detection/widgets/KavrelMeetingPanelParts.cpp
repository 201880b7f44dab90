#include "detection/widgets/KavrelMeetingPanelParts.h"

#include "kit/widgets/KavrelCapsuleButton.h"

#include <QHBoxLayout>

namespace KavrelMeetingPanelParts {

QBoxLayout *makeRow(QWidget *view)
{
    auto *row = new QHBoxLayout(view);
    row->setSpacing(14);
    row->setContentsMargins(14, 12, 14, 12);
    return row;
}

KavrelCapsuleButton *makeCloseButton(QWidget *parent, std::function<void()> action)
{
    auto *button = new KavrelCapsuleButton(parent);
    button->setObjectName(QStringLiteral("closeButton"));
    button->setSymbol(QStringLiteral("xmark"));
    button->setFixedContentSize(QSize(20, 20));
    button->setFocusPolicy(Qt::NoFocus);
    KavrelCapsuleButton::Look look;
    look.fill = KavrelSystemColors::label;
    look.fillOpacity = 0.08 / 0.85;
    look.strokeOpacity = 0;
    look.foreground = KavrelSystemColors::secondaryLabel;
    look.symbolSize = 9;
    look.horizontalPadding = 0;
    button->setLook(look);
    QObject::connect(button, &KavrelCapsuleButton::clicked, button, [action = std::move(action)] {
        if (action)
            action();
    });
    return button;
}

} // namespace KavrelMeetingPanelParts

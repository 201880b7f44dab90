#include "kit/widgets/KavrelDrawnPart.h"

#include "kit/widgets/KavrelBoundedText.h"

KavrelDrawnPart::KavrelDrawnPart()
    : m_words(std::make_unique<KavrelBoundedText>([this] { return isValid() ? name() : QString(); }))
{
}

KavrelDrawnPart::~KavrelDrawnPart() = default;

QWindow *KavrelDrawnPart::window() const
{
    const QAccessibleInterface *owner = parent();
    return owner ? owner->window() : nullptr;
}

QString KavrelDrawnPart::text(QAccessible::Text kind) const
{
    return kind == QAccessible::Name && isValid() ? name() : QString();
}

void *KavrelDrawnPart::interface_cast(QAccessible::InterfaceType type)
{
    switch (type) {
    case QAccessible::ActionInterface:
        return static_cast<QAccessibleActionInterface *>(this);
    case QAccessible::TextInterface:
        return static_cast<QAccessibleTextInterface *>(m_words.get());
    default:
        return nullptr;
    }
}

#include "signin/widgets/AuthTextInput.h"

#include "signin/widgets/ThemedLabel.h"

#include <QLineEdit>

AuthTextInput::AuthTextInput(const QString &placeholderKey, Design design, QWidget *parent)
    : AuthInputFrame(placeholderKey, 15, parent)
{
    lineEdit()->setFont(ThemedLabel::font(16, QFont::Medium, design == Design::monospaced));
}

#include "signin/widgets/AuthPasswordInput.h"

#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/SignInButtons.h"

#include <QHBoxLayout>
#include <QLineEdit>

AuthPasswordInput::AuthPasswordInput(const QString &placeholderKey, QWidget *parent)
    : AuthInputFrame(placeholderKey, 10, parent)
{
    m_toggle = SignInButtons::symbol(this);
    m_toggle->setFixedSize(28, 28);
    // After the text in the Tab order: a keyboard shows the password as a pointer does.
    m_toggle->setFocusPolicy(Qt::StrongFocus);
    rowLayout()->addWidget(m_toggle);
    connect(m_toggle, &QAbstractButton::clicked, this, [this] { setPasswordVisible(!m_isPasswordVisible); });
    setPasswordVisible(false);
}

void AuthPasswordInput::setPasswordVisible(bool visible)
{
    m_isPasswordVisible = visible;
    lineEdit()->setEchoMode(visible ? QLineEdit::Normal : QLineEdit::Password);
    m_toggle->setSymbol(visible ? QStringLiteral("eye.slash") : QStringLiteral("eye"));
    m_toggle->setToolTip(KavrelLocalizationStore::shared().localized(visible ? QStringLiteral("Hide password")
                                                                           : QStringLiteral("Show password")));
    m_toggle->setAccessibleName(m_toggle->toolTip());
}

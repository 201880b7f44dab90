#pragma once

#include "signin/widgets/AuthInputFrame.h"

class KavrelIconButton;

// A password input with an eye button that shows or hides the text. Each input starts hidden
// and keeps its own visibility.
class AuthPasswordInput final : public AuthInputFrame
{
    Q_OBJECT

public:
    explicit AuthPasswordInput(const QString &placeholderKey, QWidget *parent = nullptr);

    bool isPasswordVisible() const { return m_isPasswordVisible; }
    KavrelIconButton *visibilityButton() const { return m_toggle; }

private:
    void setPasswordVisible(bool visible);

    KavrelIconButton *m_toggle;
    bool m_isPasswordVisible = false;
};

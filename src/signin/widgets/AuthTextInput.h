#pragma once

#include "signin/widgets/AuthInputFrame.h"

// A single-line text input of the sign-in forms. Return starts nothing: every request starts
// from a button.
class AuthTextInput final : public AuthInputFrame
{
    Q_OBJECT

public:
    enum class Design { rounded, monospaced };

    AuthTextInput(const QString &placeholderKey, Design design, QWidget *parent = nullptr);
};

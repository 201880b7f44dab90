#pragma once

#include "signin/widgets/CachedBackground.h"

#include <QPointer>
#include <QWidget>

class AuthInputFrame;
class AuthMessageStrip;
class AuthPasswordInput;
class AuthSessionStore;
class AuthTextInput;
class EmailAuthFlowController;
class KavrelCapsuleButton;
class KavrelLinkButton;
class QAbstractButton;
class QCheckBox;
class QVBoxLayout;
class ThemedLabel;

// The sign-in screen shown while nobody is signed in: one card on a full-window gradient,
// under a fixed header. The card holds the current e-mail step (sign in, register, verify the
// code, set the password, set up the authenticator, or the login's second factor), the error
// and progress lines, and a footer note. The flow itself lives in EmailAuthFlowController;
// this view draws it and forwards the controls.
class AuthenticationView final : public QWidget
{
    Q_OBJECT

public:
    explicit AuthenticationView(AuthSessionStore *authStore, QWidget *parent = nullptr);
    ~AuthenticationView() override;

    EmailAuthFlowController *flow() const { return m_flow; }
    QWidget *card() const { return m_card; }

    // The card's width for a container this wide: 64 %, kept between 540 and 660.
    static qreal cardWidth(qreal containerWidth);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Return submits the step (or presses the focused action); Escape takes its way back.
    // Both are the window's, so they work wherever the focus is, or when nothing has it.
    void installKeys();
    void submitFromKeyboard();
    void goBackFromKeyboard();
    static void press(QAbstractButton *action);
    // The step's first empty field takes the keyboard, else its first field.
    void focusStep();

    void rebuildStep();
    QWidget *buildSignInForm();
    QWidget *buildRegistrationStartForm();
    QWidget *buildRegistrationVerifyForm();
    QWidget *buildRegistrationCompleteForm();
    QWidget *buildRegistrationTotpForm();
    QWidget *buildLoginMfaForm();
    QWidget *buildMessageArea();
    QWidget *buildFooter();

    // The typed fields of the flow that the inputs show.
    enum class Field { email, name, password, confirmPassword, emailCode, mfaCode };

    AuthTextInput *textInput(const QString &placeholderKey, bool monospaced, Field field);
    AuthPasswordInput *passwordInput(const QString &placeholderKey, Field field);
    // `input`, described to a screen reader by `asked`, what the step asks for in it.
    static AuthInputFrame *describedInput(AuthInputFrame *input, const QString &asked);
    void bind(AuthInputFrame *input, Field field);
    QString valueOf(Field field) const;
    void store(Field field, const QString &value);
    KavrelCapsuleButton *actionButton(const QString &titleKey, const QString &symbol);
    KavrelLinkButton *registrationBackLink();
    KavrelLinkButton *actionLink(const QString &key, int pixelSize);

    void syncFields();
    void updateMessages();

    EmailAuthFlowController *m_flow;
    CachedBackground m_background;
    QWidget *m_card;
    QVBoxLayout *m_cardLayout;
    QWidget *m_stepContent = nullptr;
    QWidget *m_messageArea = nullptr;
    AuthMessageStrip *m_errorStrip = nullptr;
    AuthMessageStrip *m_noticeStrip = nullptr;
    QWidget *m_progressBlock = nullptr;
    AuthMessageStrip *m_progressStrip = nullptr;
    KavrelLinkButton *m_cancelLink = nullptr;

    // The inputs of the current step, each with the field it shows.
    struct BoundInput
    {
        AuthInputFrame *input;
        Field field;
    };
    QList<BoundInput> m_inputs;
    QCheckBox *m_totpCheckBox = nullptr;
    KavrelCapsuleButton *m_completeButton = nullptr;
    // Buttons and links that are off while a sign-in runs.
    QList<QAbstractButton *> m_actions;
    // The step's own button and its way back, if it has one.
    QPointer<QAbstractButton> m_submitAction;
    QPointer<QAbstractButton> m_backAction;
};

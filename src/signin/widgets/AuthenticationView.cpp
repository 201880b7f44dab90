#include "signin/widgets/AuthenticationView.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "signin/EmailAuthFlowController.h"
#include "signin/widgets/AuthField.h"
#include "signin/widgets/AuthMessageStrip.h"
#include "signin/widgets/AuthPasswordInput.h"
#include "signin/widgets/AuthTextInput.h"
#include "signin/widgets/SignInButtons.h"
#include "signin/widgets/CachedBackground.h"
#include "signin/widgets/SymbolTile.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/ThemedLabel.h"
#include "signin/widgets/TotpQRCodeView.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString sampleEmail = QStringLiteral("name@company.com");
const QString codePlaceholder = QStringLiteral("480517");

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

// The authenticator secret for manual entry, selectable, on a rounded box.
class SecretBox final : public QWidget
{
public:
    SecretBox(const QString &secret, QWidget *parent) : QWidget(parent)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(10, 10, 10, 10);
        auto *label = new ThemedLabel(secret, 13, QFont::DemiBold, KavrelSystemColors::label, this);
        label->setMonospaced(true);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label->setObjectName(QStringLiteral("secret"));
        layout->addWidget(label);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(KavrelPainting::continuousRoundedRect(rect(), 10), SignInTheme::secretBoxFill.resolve(palette()));
    }
};

QVBoxLayout *formLayout(QWidget *form, int spacing)
{
    auto *layout = new QVBoxLayout(form);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

AuthenticationView::AuthenticationView(AuthSessionStore *authStore, QWidget *parent)
    : QWidget(parent)
    , m_flow(new EmailAuthFlowController(authStore, KavrelLocalizationStore::shared(), this))
    , m_card(new QWidget(this))
    , m_cardLayout(new QVBoxLayout(m_card))
{
    KavrelScreenFit::setMinimumSize(this, QSize(880, 700));

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(36, 36, 36, 36);
    column->setSpacing(28);
    column->addSpacerItem(new QSpacerItem(0, 28, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto *header = new QVBoxLayout;
    header->setSpacing(9);
    auto *title = new ThemedLabel(localized(QStringLiteral("Sign In")), 40, QFont::Bold, KavrelSystemColors::label, this);
    title->setAlignment(Qt::AlignCenter);
    auto *subtitle = new ThemedLabel(localized(QStringLiteral("Sign in with your КАВРЕЛ email and password.")), 15,
                                     QFont::Medium, KavrelSystemColors::secondaryLabel, this);
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setWordWrap(true);
    subtitle->setMaximumWidth(560);
    subtitle->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    header->addWidget(title, 0, Qt::AlignHCenter);
    auto *subtitleRow = new QHBoxLayout;
    subtitleRow->addStretch(1);
    subtitleRow->addWidget(subtitle, 100);
    subtitleRow->addStretch(1);
    header->addLayout(subtitleRow);
    column->addLayout(header);

    column->addWidget(m_card, 0, Qt::AlignHCenter);
    column->addSpacerItem(new QSpacerItem(0, 28, QSizePolicy::Minimum, QSizePolicy::Expanding));

    m_cardLayout->setContentsMargins(32, 30, 32, 30);
    m_cardLayout->setSpacing(24);
    m_messageArea = buildMessageArea();
    m_cardLayout->addWidget(m_messageArea);
    m_cardLayout->addWidget(buildFooter());
    m_card->setFixedWidth(int(cardWidth(880)));
    m_background.followCards(this, {m_card});

    connect(m_flow, &EmailAuthFlowController::emailFlowChanged, this, &AuthenticationView::rebuildStep);
    connect(m_flow, &EmailAuthFlowController::fieldsChanged, this, &AuthenticationView::syncFields);
    connect(m_flow, &EmailAuthFlowController::messagesChanged, this, &AuthenticationView::updateMessages);
    rebuildStep();
    installKeys();
}

AuthenticationView::~AuthenticationView() = default;

qreal AuthenticationView::cardWidth(qreal containerWidth)
{
    return std::min(std::max(containerWidth * 0.64, 540.0), 660.0);
}

void AuthenticationView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_card->setFixedWidth(int(std::lround(cardWidth(width()))));
}

void AuthenticationView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect cardArea = m_card->geometry();
    m_background.paint(painter, *this, {cardArea}, [this, cardArea](QPainter &canvas) {
        QPainterPath whole;
        whole.addRect(rect());
        KavrelPainting::fillGradient(canvas, whole, SignInTheme::backgroundTop.resolve(palette()),
                                     SignInTheme::backgroundBottom.resolve(palette()));
        const QPainterPath card = KavrelPainting::continuousRoundedRect(QRectF(cardArea).adjusted(0.5, 0.5, -0.5, -0.5), 26);
        KavrelPainting::drawSoftShadow(canvas, card, SignInTheme::cardShadow.resolve(palette()), 30, QPointF(0, 18));
        canvas.fillPath(card, SignInTheme::cardFill.resolve(palette()));
        canvas.strokePath(card, QPen(SignInTheme::cardBorder.resolve(palette()), 1));
    });
}

// ---- Steps ----

void AuthenticationView::rebuildStep()
{
    m_inputs.clear();
    m_actions.clear();
    m_totpCheckBox = nullptr;
    m_completeButton = nullptr;
    m_submitAction = nullptr;
    m_backAction = nullptr;
    // The step may change from a click on one of its own buttons, which must outlive its signal:
    // the old step leaves the card now and is deleted on the next turn.
    if (m_stepContent) {
        m_stepContent->hide();
        m_stepContent->setParent(nullptr);
        m_stepContent->deleteLater();
    }

    m_stepContent = new QWidget(m_card);
    auto *content = formLayout(m_stepContent, 20);

    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(new ThemedLabel(localized(m_flow->emailFlow().title()), 20, QFont::Bold, KavrelSystemColors::label,
                                        m_stepContent));
    titleRow->addStretch(1);
    if (m_flow->showsEmailModeSwitch()) {
        const bool signingIn = m_flow->emailFlow().kind == EmailAuthFlow::Kind::signIn;
        KavrelLinkButton *modeSwitch =
            actionLink(signingIn ? QStringLiteral("Create account") : QStringLiteral("Have an account?"), 14);
        connect(modeSwitch, &QAbstractButton::clicked, m_flow, &EmailAuthFlowController::switchEmailMode);
        titleRow->addWidget(modeSwitch);
    }
    content->addLayout(titleRow);

    QWidget *form = nullptr;
    switch (m_flow->emailFlow().kind) {
    case EmailAuthFlow::Kind::signIn:
        form = buildSignInForm();
        break;
    case EmailAuthFlow::Kind::registerAccount:
        form = buildRegistrationStartForm();
        break;
    case EmailAuthFlow::Kind::verifyRegistration:
        form = buildRegistrationVerifyForm();
        break;
    case EmailAuthFlow::Kind::completeRegistration:
        form = buildRegistrationCompleteForm();
        break;
    case EmailAuthFlow::Kind::registrationTotp:
        form = buildRegistrationTotpForm();
        break;
    case EmailAuthFlow::Kind::loginMfa:
        form = buildLoginMfaForm();
        break;
    }
    content->addWidget(form);
    m_cardLayout->insertWidget(0, m_stepContent);
    m_stepContent->show();
    updateMessages();
    // The step that held the focus is gone; the new one takes it. Before the first showing,
    // showEvent() does.
    if (isVisible())
        focusStep();
}

QWidget *AuthenticationView::buildSignInForm()
{
    auto *form = new QWidget(m_stepContent);
    auto *layout = formLayout(form, 17);
    layout->addWidget(new AuthField(QStringLiteral("Email"),
        textInput(sampleEmail, false, Field::email), form));
    layout->addWidget(new AuthField(QStringLiteral("Password"),
        passwordInput(QStringLiteral("Password"), Field::password), form));
    layout->addSpacing(2);
    KavrelCapsuleButton *button = actionButton(QStringLiteral("Sign in with email"), QStringLiteral("envelope"));
    connect(button, &QAbstractButton::clicked, m_flow, [this] { m_flow->loginWithEmail(); });
    layout->addWidget(button);
    m_submitAction = button;
    return form;
}

QWidget *AuthenticationView::buildRegistrationStartForm()
{
    auto *form = new QWidget(m_stepContent);
    auto *layout = formLayout(form, 17);
    layout->addWidget(new AuthField(QStringLiteral("Name"),
        textInput(QStringLiteral("Your name"), false, Field::name), form));
    layout->addWidget(new AuthField(QStringLiteral("Email"),
        textInput(sampleEmail, false, Field::email), form));
    layout->addSpacing(2);
    KavrelCapsuleButton *button = actionButton(QStringLiteral("Send verification code"), QStringLiteral("paperplane"));
    connect(button, &QAbstractButton::clicked, m_flow, [this] { m_flow->startRegistration(); });
    layout->addWidget(button);
    m_submitAction = button;
    return form;
}

QWidget *AuthenticationView::buildRegistrationVerifyForm()
{
    const EmailChallenge challenge = m_flow->emailFlow().challenge.value_or(EmailChallenge());
    auto *form = new QWidget(m_stepContent);
    auto *layout = formLayout(form, 12);
    const QStringList masked{challenge.maskedEmail};
    const QString asked = KavrelLocalizationStore::shared().localizedFormat(QStringLiteral("We sent a code to %@."), masked);
    layout->addWidget(new AuthMessageStrip(SignInTheme::codeSentTint, asked, form));
    layout->addWidget(new AuthField(QStringLiteral("Verification code"),
        describedInput(textInput(codePlaceholder, true, Field::emailCode), asked), form));
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    KavrelCapsuleButton *verify = actionButton(QStringLiteral("Verify code"), QStringLiteral("checkmark"));
    connect(verify, &QAbstractButton::clicked, m_flow, [this, challenge] { m_flow->verifyRegistrationCode(challenge); });
    KavrelLinkButton *resend = actionLink(QStringLiteral("Resend"), 14);
    connect(resend, &QAbstractButton::clicked, m_flow, [this, challenge] { m_flow->resendRegistrationCode(challenge); });
    row->addWidget(verify, 1);
    row->addWidget(resend);
    row->addWidget(registrationBackLink());
    layout->addLayout(row);
    m_submitAction = verify;
    return form;
}

QWidget *AuthenticationView::buildRegistrationCompleteForm()
{
    const EmailVerification verification = m_flow->emailFlow().verification.value_or(EmailVerification());
    auto *form = new QWidget(m_stepContent);
    auto *layout = formLayout(form, 12);
    layout->addWidget(new AuthField(QStringLiteral("Password"),
        passwordInput(QStringLiteral("BrightKey7$x"), Field::password), form));
    layout->addWidget(new AuthField(QStringLiteral("Confirm password"),
        passwordInput(QStringLiteral("Repeat password"), Field::confirmPassword), form));
    // The box stays usable while a request runs.
    m_totpCheckBox = new QCheckBox(localized(QStringLiteral("Set up 2FA before finishing")), form);
    m_totpCheckBox->setObjectName(QStringLiteral("Set up 2FA before finishing"));
    m_totpCheckBox->setChecked(m_flow->wantsTotpDuringRegistration());
    connect(m_totpCheckBox, &QCheckBox::toggled, m_flow, &EmailAuthFlowController::setWantsTotpDuringRegistration);
    layout->addWidget(m_totpCheckBox);
    m_completeButton = actionButton(m_flow->completeRegistrationButtonTitle(), m_flow->completeRegistrationButtonIcon());
    m_completeButton->setObjectName(QStringLiteral("completeRegistration")); // its title follows the box
    connect(m_completeButton, &QAbstractButton::clicked, m_flow, [this, verification] { m_flow->continueRegistration(verification); });
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(m_completeButton, 1);
    row->addWidget(registrationBackLink());
    layout->addLayout(row);
    m_submitAction = m_completeButton;
    return form;
}

QWidget *AuthenticationView::buildRegistrationTotpForm()
{
    const EmailVerification verification = m_flow->emailFlow().verification.value_or(EmailVerification());
    const TotpSetup setup = m_flow->emailFlow().setup.value_or(TotpSetup());
    auto *form = new QWidget(m_stepContent);
    auto *layout = formLayout(form, 12);

    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(new TotpQRCodeView(setup.qrCodeDataUrl, form), 0, Qt::AlignTop);
    auto *column = new QVBoxLayout;
    column->setSpacing(8);
    auto *instruction = new ThemedLabel(
        localized(QStringLiteral("Scan the QR code in your authenticator app, or enter this secret manually.")), 12,
        QFont::Normal, KavrelSystemColors::secondaryLabel, form);
    instruction->setWordWrap(true);
    column->addWidget(instruction);
    column->addWidget(new SecretBox(setup.secret, form));
    column->addStretch(1);
    row->addLayout(column, 1);
    layout->addLayout(row);

    layout->addWidget(new AuthField(QStringLiteral("Authenticator code"),
        textInput(codePlaceholder, true, Field::mfaCode), form));
    KavrelCapsuleButton *finish = actionButton(QStringLiteral("Finish registration"), QStringLiteral("checkmark.shield"));
    connect(finish, &QAbstractButton::clicked, m_flow, [this, verification, setup] { m_flow->completeRegistration(verification, setup); });
    layout->addWidget(finish);
    m_submitAction = finish;
    return form;
}

QWidget *AuthenticationView::buildLoginMfaForm()
{
    const MfaChallenge challenge = m_flow->emailFlow().mfaChallenge.value_or(MfaChallenge());
    auto *form = new QWidget(m_stepContent);
    auto *layout = formLayout(form, 12);
    const QStringList masked{challenge.maskedEmail};
    const QString asked =
        KavrelLocalizationStore::shared().localizedFormat(QStringLiteral("Enter the authenticator code for %@."), masked);
    layout->addWidget(new AuthMessageStrip(SignInTheme::authenticatorTint, asked, form));
    layout->addWidget(new AuthField(QStringLiteral("Authenticator code"),
        describedInput(textInput(codePlaceholder, true, Field::mfaCode), asked), form));
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    KavrelCapsuleButton *verify = actionButton(QStringLiteral("Verify and sign in"), QStringLiteral("checkmark.shield"));
    connect(verify, &QAbstractButton::clicked, m_flow, [this, challenge] { m_flow->verifyLoginMfa(challenge); });
    KavrelLinkButton *back = actionLink(QStringLiteral("Back"), 14);
    connect(back, &QAbstractButton::clicked, m_flow, &EmailAuthFlowController::backFromLoginMfa);
    row->addWidget(verify, 1);
    row->addWidget(back);
    layout->addLayout(row);
    m_submitAction = verify;
    m_backAction = back;
    return form;
}

KavrelLinkButton *AuthenticationView::registrationBackLink()
{
    // A mistyped e-mail is corrected at the start of the registration.
    KavrelLinkButton *back = actionLink(QStringLiteral("Back"), 14);
    connect(back, &QAbstractButton::clicked, m_flow, &EmailAuthFlowController::backToRegistrationStart);
    m_backAction = back;
    return back;
}

void AuthenticationView::installKeys()
{
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *submit = new QShortcut(keys, this);
        submit->setContext(Qt::WindowShortcut);
        connect(submit, &QShortcut::activated, this, &AuthenticationView::submitFromKeyboard);
    }
    auto *back = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    back->setContext(Qt::WindowShortcut);
    connect(back, &QShortcut::activated, this, &AuthenticationView::goBackFromKeyboard);
}

void AuthenticationView::submitFromKeyboard()
{
    // A focused action (Resend, Back) is pressed itself; anywhere else Return submits.
    auto *focused = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
    press(m_actions.contains(focused) ? focused : m_submitAction.data());
}

void AuthenticationView::goBackFromKeyboard()
{
    press(m_backAction);
}

void AuthenticationView::press(QAbstractButton *action)
{
    if (action && KavrelFocusHold::looksAvailable(action) && action->isVisible())
        action->click();
}

void AuthenticationView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown with nothing of it focused (the first start, a fresh screen after a sign-out): the
    // window would otherwise give the keyboard to its first control, the mode switch. Shown
    // again with the window, the focus it had is kept.
    QWidget *focused = window()->focusWidget();
    if (!focused || !isAncestorOf(focused))
        focusStep();
}

void AuthenticationView::focusStep()
{
    if (m_inputs.isEmpty())
        return;
    AuthInputFrame *target = m_inputs.first().input;
    for (const BoundInput &bound : std::as_const(m_inputs)) {
        if (bound.input->lineEdit()->text().isEmpty()) {
            target = bound.input;
            break;
        }
    }
    target->lineEdit()->setFocus(Qt::OtherFocusReason);
}

// ---- Controls ----

AuthTextInput *AuthenticationView::textInput(const QString &placeholderKey, bool monospaced, Field field)
{
    auto *input = new AuthTextInput(placeholderKey, monospaced ? AuthTextInput::Design::monospaced
                                                               : AuthTextInput::Design::rounded);
    bind(input, field);
    return input;
}

AuthInputFrame *AuthenticationView::describedInput(AuthInputFrame *input, const QString &asked)
{
    // The line above the field says what it asks for; a screen reader says it with the field's
    // name as the keyboard comes to it, the step's only news to a user who does not see it.
    input->lineEdit()->setAccessibleDescription(asked);
    return input;
}

AuthPasswordInput *AuthenticationView::passwordInput(const QString &placeholderKey, Field field)
{
    auto *input = new AuthPasswordInput(placeholderKey);
    bind(input, field);
    return input;
}

QString AuthenticationView::valueOf(Field field) const
{
    switch (field) {
    case Field::email:
        return m_flow->email();
    case Field::name:
        return m_flow->name();
    case Field::password:
        return m_flow->password();
    case Field::confirmPassword:
        return m_flow->confirmPassword();
    case Field::emailCode:
        return m_flow->emailCode();
    case Field::mfaCode:
        return m_flow->mfaCode();
    }
    return QString();
}

void AuthenticationView::store(Field field, const QString &value)
{
    switch (field) {
    case Field::email:
        return m_flow->setEmail(value);
    case Field::name:
        return m_flow->setName(value);
    case Field::password:
        return m_flow->setPassword(value);
    case Field::confirmPassword:
        return m_flow->setConfirmPassword(value);
    case Field::emailCode:
        return m_flow->setEmailCode(value);
    case Field::mfaCode:
        return m_flow->setMfaCode(value);
    }
}

void AuthenticationView::bind(AuthInputFrame *input, Field field)
{
    input->lineEdit()->setText(valueOf(field));
    connect(input, &AuthInputFrame::textEdited, m_flow, [this, field](const QString &text) { store(field, text); });
    m_inputs.append(BoundInput{input, field});
}

KavrelCapsuleButton *AuthenticationView::actionButton(const QString &titleKey, const QString &symbol)
{
    auto *button = SignInButtons::action(titleKey, symbol);
    button->setObjectName(titleKey);
    m_actions.append(button);
    return button;
}

KavrelLinkButton *AuthenticationView::actionLink(const QString &key, int pixelSize)
{
    auto *link = SignInButtons::link(key, pixelSize);
    link->setObjectName(key);
    m_actions.append(link);
    return link;
}

void AuthenticationView::syncFields()
{
    for (const BoundInput &bound : std::as_const(m_inputs)) {
        const QString value = valueOf(bound.field);
        if (bound.input->lineEdit()->text() != value)
            bound.input->lineEdit()->setText(value);
    }
    if (m_totpCheckBox && m_totpCheckBox->isChecked() != m_flow->wantsTotpDuringRegistration())
        m_totpCheckBox->setChecked(m_flow->wantsTotpDuringRegistration());
    if (m_completeButton)
        SignInButtons::setAction(m_completeButton, m_flow->completeRegistrationButtonTitle(),
                                 m_flow->completeRegistrationButtonIcon());
}

// ---- Messages ----

QWidget *AuthenticationView::buildMessageArea()
{
    auto *area = new QWidget(m_card);
    auto *layout = formLayout(area, 12);
    m_errorStrip = new AuthMessageStrip(SignInTheme::errorTint, QString(), area);
    m_errorStrip->setObjectName(QStringLiteral("errorStrip"));
    layout->addWidget(m_errorStrip);
    m_noticeStrip = new AuthMessageStrip(SignInTheme::progressTint, QString(), area);
    m_noticeStrip->setObjectName(QStringLiteral("noticeStrip"));
    layout->addWidget(m_noticeStrip);

    m_progressBlock = new QWidget(area);
    auto *progress = formLayout(m_progressBlock, 10);
    m_progressStrip = new AuthMessageStrip(SignInTheme::progressTint, QString(), m_progressBlock);
    m_progressStrip->setObjectName(QStringLiteral("progressStrip"));
    progress->addWidget(m_progressStrip);
    // Never disabled: it is the way out of a provider sign-in that hangs.
    m_cancelLink = SignInButtons::link(QStringLiteral("Cancel sign-in"), 13, m_progressBlock);
    m_cancelLink->setObjectName(QStringLiteral("cancelSignIn"));
    connect(m_cancelLink, &QAbstractButton::clicked, m_flow, &EmailAuthFlowController::cancelAuthentication);
    progress->addWidget(m_cancelLink, 0, Qt::AlignLeft);
    layout->addWidget(m_progressBlock);
    return area;
}

QWidget *AuthenticationView::buildFooter()
{
    auto *footer = new QWidget(m_card);
    auto *layout = new QHBoxLayout(footer);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(12);
    layout->addStretch(1);
    SymbolTile::Look lockLook;
    lockLook.side = 16;
    lockLook.symbolSize = 14;
    layout->addWidget(new SymbolTile(QStringLiteral("lock.shield"), lockLook, footer));
    auto *note = new ThemedLabel(
        localized(QStringLiteral("By continuing, you allow КАВРЕЛ to create a desktop session for your account.")), 11,
        QFont::Medium, KavrelSystemColors::secondaryLabel, footer);
    // One line when it fits the card, wrapped under itself when it does not.
    note->setWordWrap(true);
    note->setMinimumWidth(std::min(note->fontMetrics().horizontalAdvance(note->text()) + 2, 460));
    layout->addWidget(note, 0);
    layout->addStretch(1);
    return footer;
}

void AuthenticationView::updateMessages()
{
    const std::optional<QString> error = m_flow->errorText();
    m_errorStrip->setVisible(error.has_value());
    if (error)
        m_errorStrip->setText(*error);
    const std::optional<QString> notice = m_flow->noticeText();
    m_noticeStrip->setVisible(notice.has_value());
    if (notice)
        m_noticeStrip->setText(*notice);

    const std::optional<QString> progress = m_flow->progressMessage();
    // The way out goes with the sign-in it ends. Qt would hand its keyboard to the next control
    // in the chain, and a step's own button there would start the sign-in again at the next key:
    // it goes back to the step's fields instead.
    if (window()->focusWidget() == m_cancelLink && !(progress && m_flow->showsCancelSignIn()))
        focusStep();
    m_progressBlock->setVisible(progress.has_value());
    if (progress)
        m_progressStrip->setText(*progress);
    m_cancelLink->setVisible(m_flow->showsCancelSignIn());
    m_messageArea->setVisible(error || notice || progress);

    const bool enabled = m_flow->areActionsEnabled();
    for (QAbstractButton *action : std::as_const(m_actions))
        KavrelFocusHold::setAvailable(action, enabled);
}

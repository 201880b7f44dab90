#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "signin/EmailAuthFlowController.h"
#include "signin/EmailSignInRules.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString tooShort = QStringLiteral("Password must be at least 8 characters.");
const QString needsUpper = QStringLiteral("Password must include an uppercase letter.");
const QString needsLower = QStringLiteral("Password must include a lowercase letter.");
const QString needsDigit = QStringLiteral("Password must include a digit.");
const QString needsSymbol = QStringLiteral("Password must include a symbol.");

} // namespace

class tst_EmailSignInRules : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;

private Q_SLOTS:
    void init()
    {
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("defaults.ini")));
        m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
        m_localization->setLanguage(KavrelAppLanguage::english);
    }

    void cleanup()
    {
        m_localization.reset();
        m_defaults.reset();
    }

    void passwordPolicy_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected"); // empty: accepted

        QTest::newRow("7 characters") << QStringLiteral("Ab1$xyz") << tooShort;
        QTest::newRow("8 characters") << QStringLiteral("Ab1$xyzw") << QString();
        // Eight code units, seven characters: the accent joins the e.
        QTest::newRow("combining accent counts once") << QStringLiteral("Ab1$xye\u0301") << tooShort;
        QTest::newRow("emoji counts once") << QStringLiteral("Ab1$xy\U0001F44D\U0001F3FD") << tooShort;
        QTest::newRow("letters and digit only") << QStringLiteral("Abcdefg1") << needsSymbol;
        QTest::newRow("no uppercase") << QStringLiteral("abcdefg1$") << needsUpper;
        QTest::newRow("no lowercase") << QStringLiteral("ABCDEFG1$") << needsLower;
        QTest::newRow("no digit") << QStringLiteral("Abcdefgh$") << needsDigit;
        QTest::newRow("a space is a symbol") << QStringLiteral("Abcdef 1") << QString();
        QTest::newRow("titlecase letter is uppercase") << QStringLiteral("\u01C5bcdef1$") << QString();
        QTest::newRow("a combining mark is no symbol") << QStringLiteral("Abcdef1e\u0301") << needsSymbol;
        QTest::newRow("any decimal digit") << QStringLiteral("Ab$\u0661xyzw") << QString();
        QTest::newRow("Cyrillic letters") << QStringLiteral("Пароль7!") << QString();
        QTest::newRow("length before everything") << QStringLiteral("abc") << tooShort;
    }

    void passwordPolicy()
    {
        QFETCH(QString, password);
        QFETCH(QString, expected);
        QCOMPARE(EmailSignInRules::passwordPolicyError(password).value_or(QString()), expected);
    }

    // What the password step reports, in the order the user must fix it.
    void registrationPassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("expected");

        QTest::newRow("only spaces") << QStringLiteral("   ") << QStringLiteral("   ") << QStringLiteral("Password is required.");
        QTest::newRow("mismatch before policy") << QStringLiteral("short") << QStringLiteral("other") << EmailSignInRules::passwordMismatchMessage;
        QTest::newRow("empty confirmation") << QStringLiteral("Bright7$x") << QString() << EmailSignInRules::passwordMismatchMessage;
        QTest::newRow("confirmation not trimmed") << QStringLiteral("Bright7$x") << QStringLiteral("Bright7$x ") << EmailSignInRules::passwordMismatchMessage;
        QTest::newRow("canonically equal") << QStringLiteral("Caf\u00e91$ab") << QStringLiteral("Cafe\u03011$ab") << QString();
        QTest::newRow("policy after match") << QStringLiteral("Bright7x") << QStringLiteral("Bright7x") << needsSymbol;
    }

    void registrationPassword()
    {
        QFETCH(QString, password);
        QFETCH(QString, confirmation);
        QFETCH(QString, expected);
        EmailAuthFlowController controller(nullptr, *m_localization);
        controller.setLocalErrorMessage(QStringLiteral("earlier"));
        controller.setPassword(password);
        controller.setConfirmPassword(confirmation);
        const bool accepted = controller.validatePasswordForRegistration();
        QCOMPARE(accepted, expected.isEmpty());
        // Success leaves an earlier message alone; the request clears it when it starts.
        QCOMPARE(controller.localErrorMessage().value_or(QString()), expected.isEmpty() ? QStringLiteral("earlier") : expected);
    }

    void email_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normalized");
        QTest::addColumn<bool>("plausible");

        QTest::newRow("spaces and capitals") << QStringLiteral("  Ada@Example.COM \n") << QStringLiteral("ada@example.com") << true;
        QTest::newRow("no dot") << QStringLiteral("ada@example") << QStringLiteral("ada@example") << false;
        QTest::newRow("no at") << QStringLiteral("ada.example.com") << QStringLiteral("ada.example.com") << false;
        QTest::newRow("dot before at") << QStringLiteral("a.b@c") << QStringLiteral("a.b@c") << true;
        QTest::newRow("just the two") << QStringLiteral(".@") << QStringLiteral(".@") << true;
        QTest::newRow("only white space") << QStringLiteral(" \t ") << QString() << false;
    }

    void email()
    {
        QFETCH(QString, typed);
        QFETCH(QString, normalized);
        QFETCH(bool, plausible);
        QCOMPARE(EmailSignInRules::normalizedEmail(typed), normalized);
        QCOMPARE(EmailSignInRules::isPlausibleEmail(normalized), plausible);
    }

    void requiredMessageIsLocalizedWhenBuilt()
    {
        m_localization->setLanguage(KavrelAppLanguage::russian);
        EmailAuthFlowController controller(nullptr, *m_localization);
        QVERIFY(!controller.validateRequired(QStringLiteral(" \n"), QStringLiteral("Verification code")));
        const QString message = controller.localErrorMessage().value_or(QString());
        QVERIFY(message.contains(m_localization->localized(QStringLiteral("Verification code"))));
        QVERIFY(!message.contains(QStringLiteral("is required")));
        // The text is final: looking it up again changes nothing.
        QCOMPARE(m_localization->localized(message), message);
    }
};

QTEST_GUILESS_MAIN(tst_EmailSignInRules)
#include "tst_EmailSignInRules.moc"

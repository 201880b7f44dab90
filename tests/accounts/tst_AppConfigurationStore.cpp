#include "accounts/AppConfigurationStore.h"
#include "platform/UserDefaults.h"

#include <QHash>
#include <QTemporaryDir>
#include <QTest>

class tst_AppConfigurationStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    AppConfigurationStore makeStore(UserDefaults *defaults, QHash<QString, QString> environment, QHash<QString, QString> info)
    {
        return AppConfigurationStore(
            defaults,
            [environment](const QString &name) -> std::optional<QString> {
                if (!environment.contains(name))
                    return std::nullopt;
                return environment.value(name);
            },
            [info](const QString &key) -> std::optional<QString> {
                if (!info.contains(key))
                    return std::nullopt;
                return info.value(key);
            });
    }

private Q_SLOTS:
    void baseURLChain_data()
    {
        QTest::addColumn<QString>("environment"); // "<unset>" for none
        QTest::addColumn<QString>("saved");       // "<unset>" for none
        QTest::addColumn<QString>("info");        // "<unset>" for none
        QTest::addColumn<QString>("expected");

        const QString unset = QStringLiteral("<unset>");
        const QString builtIn = AppConfigurationStore::builtInBackendBaseURL();
        QTest::newRow("environment wins, trimmed") << " https://env.example \n" << "https://saved" << "https://info" << "https://env.example";
        QTest::newRow("unexpanded variable skipped") << "$(KAVREL_AUTH_BASE_URL)" << "https://saved" << "https://info" << "https://saved";
        QTest::newRow("blank environment skipped") << "   " << unset << "https://info" << "https://info";
        QTest::newRow("blank saved skipped") << unset << " \t " << "https://info" << "https://info";
        QTest::newRow("saved with variable skipped") << unset << "https://$(HOST)" << unset << builtIn;
        QTest::newRow("info trimmed") << unset << unset << "  https://info  " << "https://info";
        QTest::newRow("nothing: built in") << unset << unset << unset << builtIn;
    }

    void baseURLChain()
    {
        QFETCH(QString, environment);
        QFETCH(QString, saved);
        QFETCH(QString, info);
        QFETCH(QString, expected);
        const QString unset = QStringLiteral("<unset>");

        UserDefaults defaults(m_dir.filePath(QStringLiteral("chain-%1.ini").arg(QTest::currentDataTag())));
        if (saved != unset)
            defaults.setString(QString::fromLatin1(AppConfigurationStore::savedAuthBackendBaseURLKey), saved);
        QHash<QString, QString> env;
        if (environment != unset)
            env.insert(QStringLiteral("KAVREL_AUTH_BASE_URL"), environment);
        QHash<QString, QString> table;
        if (info != unset)
            table.insert(QStringLiteral("KavrelAuthBackendBaseURL"), info);

        const AppConfigurationStore store = makeStore(&defaults, env, table);
        QCOMPARE(store.resolvedValue(AppConfigurationKind::authBackendBaseURL), expected);
    }

    void savedValueOfAnotherTypeIsIgnored()
    {
        UserDefaults defaults(m_dir.filePath(QStringLiteral("typed.ini")));
        defaults.setBool(QString::fromLatin1(AppConfigurationStore::savedDefaultWorkspaceIDKey), true);
        const AppConfigurationStore store = makeStore(&defaults, {}, {});
        QCOMPARE(store.resolvedValue(AppConfigurationKind::defaultWorkspaceID), AppConfigurationStore::builtInDefaultWorkspaceID());
        defaults.setString(QString::fromLatin1(AppConfigurationStore::savedDefaultWorkspaceIDKey), QStringLiteral(" ws-9 "));
        QCOMPARE(store.resolvedValue(AppConfigurationKind::defaultWorkspaceID), QStringLiteral("ws-9"));
    }

    void workspaceIDHasNoInfoTableEntry()
    {
        const AppConfigurationStore store = makeStore(nullptr, {}, {{QStringLiteral("KavrelDefaultWorkspaceID"), QStringLiteral("x")}});
        QVERIFY(!store.bundledValue(AppConfigurationKind::defaultWorkspaceID));
        const QString builtIn = AppConfigurationStore::builtInDefaultWorkspaceID();
        QCOMPARE(store.resolvedValue(AppConfigurationKind::defaultWorkspaceID), builtIn);
        QCOMPARE(builtIn.size(), 36);
        QCOMPARE(builtIn, builtIn.toLower());
        const QString builtInURL = AppConfigurationStore::builtInBackendBaseURL();
        QVERIFY(builtInURL.startsWith(QLatin1String("https://api.")));
        QVERIFY(!builtInURL.endsWith(QLatin1Char('/')));
    }

    void microsoftClientIDOrder()
    {
        const AppConfigurationStore store = makeStore(nullptr,
                                                      {{QStringLiteral("KAVREL_MICROSOFT_CLIENT_ID"), QString()},
                                                       {QStringLiteral("VITE_MICROSOFT_CLIENT_ID"), QStringLiteral("vite")},
                                                       {QStringLiteral("VITE_MICROSOFT_CLIENT_ID_PROD"), QStringLiteral("prod")}},
                                                      {});
        QCOMPARE(store.environmentValue(AppConfigurationKind::microsoftClientID), std::optional<QString>(QStringLiteral("prod")));
        const AppConfigurationStore second = makeStore(nullptr,
                                                       {{QStringLiteral("KAVREL_MICROSOFT_CLIENT_ID"), QStringLiteral(" ")},
                                                        {QStringLiteral("MICROSOFT_CLIENT_ID"), QStringLiteral("ms")}},
                                                       {});
        QCOMPARE(second.environmentValue(AppConfigurationKind::microsoftClientID), std::optional<QString>(QStringLiteral("ms")));
    }

    void realEnvironmentIsReadAfresh()
    {
        const AppConfigurationStore store(nullptr);
        qputenv("KAVREL_DEFAULT_WORKSPACE_ID", " from-env ");
        QCOMPARE(store.resolvedValue(AppConfigurationKind::defaultWorkspaceID), QStringLiteral("from-env"));
        qunsetenv("KAVREL_DEFAULT_WORKSPACE_ID");
        QCOMPARE(store.resolvedValue(AppConfigurationKind::defaultWorkspaceID), AppConfigurationStore::builtInDefaultWorkspaceID());
    }

    void applicationStoreRemovesRetiredKeys()
    {
        UserDefaults defaults(m_dir.filePath(QStringLiteral("retired.ini")));
        defaults.setString(QStringLiteral("kavrel.savedDeepgramAPIKey"), QStringLiteral("k1"));
        defaults.setString(QStringLiteral("kavrel.savedDeepSeekAPIKey"), QStringLiteral("k2"));
        defaults.setString(QString::fromLatin1(AppConfigurationStore::savedAuthBackendBaseURLKey), QStringLiteral("https://kept"));
        AppConfigurationStore::createForApplication(&defaults);
        QVERIFY(!defaults.contains(QStringLiteral("kavrel.savedDeepgramAPIKey")));
        QVERIFY(!defaults.contains(QStringLiteral("kavrel.savedDeepSeekAPIKey")));
        QVERIFY(defaults.contains(QString::fromLatin1(AppConfigurationStore::savedAuthBackendBaseURLKey)));
    }
};

QTEST_GUILESS_MAIN(tst_AppConfigurationStore)
#include "tst_AppConfigurationStore.moc"

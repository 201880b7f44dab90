#include "kit/KavrelAppearanceMode.h"
#include "app/KavrelNotifications.h"
#include "base/KavrelDiagnostics.h"
#include "platform/ApplicationInfo.h"

#include <QSignalSpy>
#include <QTest>

class tst_ShellStatics : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void appearanceRawValues_data();
    void appearanceRawValues();
    void logCategoriesUseTheBundleIdentifier();
    void notificationsReachTheListener();
};

void tst_ShellStatics::appearanceRawValues_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("scheme"); // -1 none, 0 light, 1 dark
    QTest::newRow("system") << "system" << -1;
    QTest::newRow("light") << "light" << 0;
    QTest::newRow("dark") << "dark" << 1;
    QTest::newRow("capitalised") << "Dark" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("padded") << " light" << -1;
}

void tst_ShellStatics::appearanceRawValues()
{
    QFETCH(QString, stored);
    QFETCH(int, scheme);
    const auto preferred = KavrelAppearance::preferredColorScheme(stored);
    if (scheme < 0)
        QVERIFY(!preferred.has_value());
    else
        QCOMPARE(int(*preferred), scheme);

    QCOMPARE(KavrelAppearance::allCases.size(), size_t(3));
    for (auto mode : KavrelAppearance::allCases)
        QCOMPARE(KavrelAppearance::fromRawValue(KavrelAppearance::rawValue(mode)), std::optional(mode));
}

void tst_ShellStatics::logCategoriesUseTheBundleIdentifier()
{
    const QString prefix = ApplicationInfo::bundleIdentifier() + QLatin1Char('.');
    const QList<QPair<const QLoggingCategory *, QString>> categories = {
        {&KavrelDiagnostics::app(), QStringLiteral("App")},
        {&KavrelDiagnostics::deepSeekTranslation(), QStringLiteral("DeepSeekTranslation")},
    };
    for (const auto &[category, name] : categories) {
        QCOMPARE(QString::fromLatin1(category->categoryName()), prefix + name);
        QVERIFY(category->isInfoEnabled());
        QVERIFY(category->isWarningEnabled());
    }
    // Each call hands out the same category object.
    QCOMPARE(&KavrelDiagnostics::audio(), &KavrelDiagnostics::audio());
}

void tst_ShellStatics::notificationsReachTheListener()
{
    auto &center = KavrelNotifications::defaultCenter();
    QCOMPARE(&center, &KavrelNotifications::defaultCenter());
    QSignalSpy posted(&center, &KavrelNotifications::posted);
    center.post(KavrelNotifications::openMainWindow);
    QCOMPARE(posted.count(), 1);
    QCOMPARE(posted.at(0).at(0).toString(), QStringLiteral("kavrel.openMainWindow"));
}

QTEST_GUILESS_MAIN(tst_ShellStatics)
#include "tst_ShellStatics.moc"

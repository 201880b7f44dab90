#include "platform/UserDefaults.h"
#include "screens/KavrelAppSection.h"
#include "screens/KavrelSettingsModel.h"
#include "screens/KavrelWorkspaceShellModel.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(KavrelAppSection)

namespace {

KavrelSidebarVisibilityState stateOf(bool collapsed, bool focus, KavrelAppSection section)
{
    return KavrelSidebarVisibilityState{collapsed, focus, section};
}

} // namespace

class tst_KavrelShellRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sectionRawValues();
    void visibilityTable_data();
    void visibilityTable();
    void revealGesture_data();
    void revealGesture();
    void modelFollowsStoredSettings();
    void settingsDefaultsAndUnknownValues();
    void switchingTheMiniWindowOffClosesIt();
};

void tst_KavrelShellRules::sectionRawValues()
{
    for (KavrelAppSection section : KavrelAppSections::allCases)
        QCOMPARE(KavrelAppSections::fromRawValue(KavrelAppSections::rawValue(section)), section);
    QCOMPARE(KavrelAppSections::rawValue(KavrelAppSection::history), QStringLiteral("history"));
    for (const QString &text : {QStringLiteral("Workspace"), QStringLiteral(" profile"), QStringLiteral(""),
                                QStringLiteral("settings")})
        QVERIFY2(!KavrelAppSections::fromRawValue(text), qPrintable(text));
}

// Every combination of the three inputs: whether the sidebar shows, and what the toolbar button
// and the tab leave behind.
void tst_KavrelShellRules::visibilityTable_data()
{
    QTest::addColumn<bool>("collapsed");
    QTest::addColumn<bool>("focus");
    QTest::addColumn<KavrelAppSection>("section");
    QTest::addColumn<bool>("hidden");
    // After the toolbar button: collapsed, focus mode.
    QTest::addColumn<bool>("toggledCollapsed");
    QTest::addColumn<bool>("toggledFocus");
    // After the tab (only offered while hidden): focus mode.
    QTest::addColumn<bool>("revealedFocus");

    using S = KavrelAppSection;
    QTest::newRow("open, workspace") << false << false << S::workspace << false << true << false << false;
    QTest::newRow("collapsed, workspace") << true << false << S::workspace << true << false << false << false;
    QTest::newRow("focus, workspace") << false << true << S::workspace << true << false << false << false;
    QTest::newRow("collapsed and focus, workspace: one press clears both")
        << true << true << S::workspace << true << false << false << false;
    QTest::newRow("focus, profile: sidebar shows, button keeps focus mode")
        << false << true << S::profile << false << true << true << true;
    QTest::newRow("collapsed and focus, history: focus mode kept")
        << true << true << S::history << true << false << true << true;
    QTest::newRow("collapsed, profile") << true << false << S::profile << true << false << false << false;
    QTest::newRow("open, history") << false << false << S::history << false << true << false << false;
}

void tst_KavrelShellRules::visibilityTable()
{
    QFETCH(bool, collapsed);
    QFETCH(bool, focus);
    QFETCH(KavrelAppSection, section);
    QFETCH(bool, hidden);
    QFETCH(bool, toggledCollapsed);
    QFETCH(bool, toggledFocus);
    QFETCH(bool, revealedFocus);

    const KavrelSidebarVisibilityState state = stateOf(collapsed, focus, section);
    QCOMPARE(state.isSidebarHidden(), hidden);

    const KavrelSidebarVisibilityState toggled = state.toggled();
    QCOMPARE(toggled.isSidebarCollapsed, toggledCollapsed);
    QCOMPARE(toggled.isFocusModeEnabled, toggledFocus);
    QCOMPARE(toggled.selectedSection, section);
    QCOMPARE(toggled.isSidebarHidden(), !hidden);

    if (hidden) {
        const KavrelSidebarVisibilityState revealed = state.revealed();
        QVERIFY(!revealed.isSidebarHidden());
        QCOMPARE(revealed.isFocusModeEnabled, revealedFocus);
    }
}

void tst_KavrelShellRules::revealGesture_data()
{
    QTest::addColumn<QPointF>("translation");
    QTest::addColumn<bool>("reveals");
    QTest::newRow("click") << QPointF(0, 0) << true;
    QTest::newRow("jitter under the drag distance") << QPointF(2.5, -2.5) << true;
    QTest::newRow("drag of exactly 12 to the right") << QPointF(12, 0) << false;
    QTest::newRow("drag of 12.5 to the right") << QPointF(12.5, 0) << true;
    QTest::newRow("long drag down and right") << QPointF(30, 40) << true;
    QTest::newRow("vertical drag") << QPointF(0, 20) << false;
    QTest::newRow("drag to the left") << QPointF(-40, 0) << false;
    QTest::newRow("drag of 4 to the right") << QPointF(4, 0) << false;
}

void tst_KavrelShellRules::revealGesture()
{
    QFETCH(QPointF, translation);
    QFETCH(bool, reveals);
    QCOMPARE(KavrelSidebarReveal::revealsOnRelease(translation), reveals);
}

void tst_KavrelShellRules::modelFollowsStoredSettings()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("prefs.ini"));
    UserDefaults defaults(file);
    UserDefaults workspaceDefaults(file); // the workspace view writes focus mode through its own reader

    KavrelWorkspaceShellModel model(defaults);
    QSignalSpy hidden(&model, &KavrelWorkspaceShellModel::sidebarHiddenChanged);
    QCOMPARE(model.selectedSection(), KavrelAppSection::workspace);
    QVERIFY(!model.isSidebarHidden());

    // The workspace switches focus mode on: the shell hides its sidebar without being told.
    workspaceDefaults.setBool(QString::fromLatin1(KavrelWorkspaceShellModel::focusModeKey), true);
    QCOMPARE(hidden.count(), 1);
    QVERIFY(model.isSidebarHidden());

    // Other sections show it; coming back hides it again.
    model.selectSection(KavrelAppSection::profile);
    QVERIFY(!model.isSidebarHidden());
    model.selectSection(KavrelAppSection::workspace);
    QVERIFY(model.isSidebarHidden());
    QCOMPARE(hidden.count(), 3);

    // The tab reveals and switches focus mode off where the workspace reads it.
    model.revealSidebar();
    QVERIFY(!model.isSidebarHidden());
    QCOMPARE(workspaceDefaults.boolValue(QString::fromLatin1(KavrelWorkspaceShellModel::focusModeKey)), false);

    model.toggleSidebarVisibility();
    QVERIFY(model.isSidebarHidden());

    // A new shell (another sign-in, a restart) keeps the collapse but starts on the workspace.
    model.selectSection(KavrelAppSection::history);
    KavrelWorkspaceShellModel next(defaults);
    QCOMPARE(next.selectedSection(), KavrelAppSection::workspace);
    QVERIFY(next.state().isSidebarCollapsed);
}

void tst_KavrelShellRules::settingsDefaultsAndUnknownValues()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    {
        KavrelSettingsModel model(defaults, [] {});
        QCOMPARE(model.appearanceMode(), KavrelAppearanceMode::system);
        QVERIFY(model.isMiniWindowEnabled());
    }

    defaults.setString(QString::fromLatin1(KavrelAppearance::defaultsKey), QStringLiteral("Dark"));
    defaults.setString(QString::fromLatin1(KavrelSettingsModel::miniWindowEnabledKey), QStringLiteral("no"));
    KavrelSettingsModel model(defaults, [] {});
    QCOMPARE(model.appearanceMode(), KavrelAppearanceMode::system);
    QVERIFY2(model.isMiniWindowEnabled(), "a stored value that is no Boolean reads as the default");

    QSignalSpy changed(&model, &KavrelSettingsModel::appearanceModeChanged);
    model.setAppearanceMode(KavrelAppearanceMode::dark);
    QCOMPARE(defaults.stringValue(QString::fromLatin1(KavrelAppearance::defaultsKey)), QStringLiteral("dark"));
    QCOMPARE(model.appearanceMode(), KavrelAppearanceMode::dark);
    QCOMPARE(changed.count(), 1);

    // Someone else storing garbage again shows System.
    defaults.setString(QString::fromLatin1(KavrelAppearance::defaultsKey), QStringLiteral("sepia"));
    QCOMPARE(model.appearanceMode(), KavrelAppearanceMode::system);
}

void tst_KavrelShellRules::switchingTheMiniWindowOffClosesIt()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("prefs.ini"));
    UserDefaults defaults(file);
    int closes = 0;
    KavrelSettingsModel model(defaults, [&closes] { ++closes; });

    model.setMiniWindowEnabled(true);
    QCOMPARE(closes, 0);
    model.setMiniWindowEnabled(false);
    QCOMPARE(closes, 1);
    QCOMPARE(defaults.boolValue(QString::fromLatin1(KavrelSettingsModel::miniWindowEnabledKey)), false);
    model.setMiniWindowEnabled(false);
    QCOMPARE(closes, 1);
    model.setMiniWindowEnabled(true);
    QCOMPARE(closes, 1);

    // Switched off from elsewhere (another reader of the same settings): closed as well.
    UserDefaults other(file);
    other.setBool(QString::fromLatin1(KavrelSettingsModel::miniWindowEnabledKey), false);
    QCOMPARE(closes, 2);
}

QTEST_GUILESS_MAIN(tst_KavrelShellRules)
#include "tst_KavrelShellRules.moc"

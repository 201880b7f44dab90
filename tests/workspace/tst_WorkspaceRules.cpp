// The main window's arithmetic and display rules: the split, the divider drag, the level
// bars, text sizes, which body a column shows, the result panel states and the scroll key.

#include "workspace/WorkspaceLayout.h"
#include "workspace/WorkspaceRules.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace WorkspaceRules;

class tst_WorkspaceRules final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void split_data();
    void split();
    void dividerDrag_data();
    void dividerDrag();
    void layoutValues();
    void levelBars_data();
    void levelBars();
    void fontSizeBounds();
    void clearSubtitles();
    void columnBodyPrecedence();
    void resultStates_data();
    void resultStates();
    void primaryAction_data();
    void primaryAction();
    void scrollSignature();
};

void tst_WorkspaceRules::split_data()
{
    QTest::addColumn<bool>("rows");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("total");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("second");

    // The generic arithmetic with a small minimum, then the workspace's own minimums.
    QTest::newRow("400 at half") << false << 90.0 << 400.0 << 0.5 << 200.0 << 192.0;
    QTest::newRow("columns 1000 at half") << false << 360.0 << 1000.0 << 0.5 << 500.0 << 492.0;
    QTest::newRow("columns 700: both minimums") << false << 360.0 << 700.0 << 0.5 << 360.0 << 360.0;
    QTest::newRow("columns 400: both minimums") << false << 360.0 << 400.0 << 0.5 << 360.0 << 360.0;
    QTest::newRow("columns 1000 at 0.75: second keeps its minimum") << false << 360.0 << 1000.0 << 0.75 << 632.0 << 360.0;
    QTest::newRow("stored 0.1 is used, limited by the minimum") << false << 360.0 << 1200.0 << 0.1 << 360.0 << 832.0;
    QTest::newRow("rows 800 at half") << true << 240.0 << 800.0 << 0.5 << 400.0 << 392.0;
    QTest::newRow("NaN gives the first its minimum") << false << 360.0 << 1000.0 << std::nan("") << 360.0 << 632.0;
    QTest::newRow("infinity too") << false << 360.0 << 1000.0 << std::numeric_limits<double>::infinity() << 360.0 << 632.0;
    QTest::newRow("minus infinity too") << true << 240.0 << 800.0 << -std::numeric_limits<double>::infinity() << 240.0 << 552.0;
    QTest::newRow("zero size") << false << 360.0 << 0.0 << 0.5 << 360.0 << 360.0;
    QTest::newRow("tiny size") << true << 240.0 << 5.0 << 0.5 << 240.0 << 240.0;
}

void tst_WorkspaceRules::split()
{
    QFETCH(bool, rows);
    QFETCH(double, minimum);
    QFETCH(double, total);
    QFETCH(double, fraction);
    QFETCH(double, first);
    QFETCH(double, second);

    const KavrelSplitGeometry geometry = minimum == WorkspaceLayout{rows}.minimumPane()
                                             ? WorkspaceLayout{rows}.split(total, fraction)
                                             : KavrelSplitGeometry::compute(total, fraction, minimum, WorkspaceLayout::dividerExtent);
    QCOMPARE(geometry.first, first);
    QCOMPARE(geometry.second, second);
    // With room for both minimums, the panes and the divider fill the container exactly.
    if (total >= 2 * minimum + WorkspaceLayout::dividerExtent)
        QCOMPARE(geometry.first + WorkspaceLayout::dividerExtent + geometry.second, total);
}

void tst_WorkspaceRules::dividerDrag_data()
{
    QTest::addColumn<double>("position");
    QTest::addColumn<double>("available");
    QTest::addColumn<double>("expected");

    QTest::newRow("middle") << 500.0 << 1000.0 << 0.5;
    QTest::newRow("past the end") << 1400.0 << 1000.0 << 0.75;
    QTest::newRow("before the start") << -50.0 << 1000.0 << 0.25;
    QTest::newRow("container below 1: the position itself") << 0.6 << 0.5 << 0.6;
    QTest::newRow("container below 1, clamped") << 3.0 << 0.0 << 0.75;
    QTest::newRow("a NaN position keeps the split") << std::nan("") << 1000.0 << 0.4;
}

void tst_WorkspaceRules::dividerDrag()
{
    QFETCH(double, position);
    QFETCH(double, available);
    QFETCH(double, expected);
    QCOMPARE(WorkspaceLayout::fractionForDrag(position, available, 0.4), expected);
}

void tst_WorkspaceRules::layoutValues()
{
    for (const QString &raw : {QStringLiteral("columns"), QStringLiteral("grid"), QString()}) {
        const WorkspaceLayout layout = WorkspaceLayout::fromRawValue(raw);
        QVERIFY(!layout.rows);
    }
    const WorkspaceLayout rows = WorkspaceLayout::fromRawValue(QStringLiteral("rows"));
    QVERIFY(rows.rows);
    QCOMPARE(rows.rawValue(), QStringLiteral("rows"));
}

void tst_WorkspaceRules::levelBars_data()
{
    QTest::addColumn<double>("level");
    QTest::addColumn<int>("lit");
    QTest::newRow("0.24") << 0.24 << 0;
    QTest::newRow("0.25") << 0.25 << 1;
    QTest::newRow("0.74") << 0.74 << 2;
    QTest::newRow("1.0") << 1.0 << 4;
    QTest::newRow("above full scale") << 3.0 << 4;
    QTest::newRow("NaN") << std::nan("") << 0;
    QTest::newRow("negative") << -1.0 << 0;
}

void tst_WorkspaceRules::levelBars()
{
    QFETCH(double, level);
    QFETCH(int, lit);
    QCOMPARE(litLevelBars(level), lit);
}

void tst_WorkspaceRules::fontSizeBounds()
{
    QVERIFY(!canDecreaseFontSize(12));
    QVERIFY(canIncreaseFontSize(12));
    QVERIFY(!canIncreaseFontSize(30));
    QCOMPARE(increasedFontSize(29), 30.0);
    QCOMPARE(decreasedFontSize(13), 12.0);
    QCOMPARE(increasedFontSize(18), 20.0);
    QCOMPARE(decreasedFontSize(18), 16.0);
}

void tst_WorkspaceRules::clearSubtitles()
{
    QVERIFY(!canClearSubtitles({}, {}, {}));
    QVERIFY(canClearSubtitles(QStringLiteral("  "), {}, {}));
    QVERIFY(canClearSubtitles({}, QStringLiteral("x"), {}));
    QVERIFY(canClearSubtitles({}, {}, QStringLiteral("draft")));
    // A blank transcript still counts for clearing, not for the AI tools.
    QVERIFY(!hasText(QStringLiteral(" \n\t")));
}

void tst_WorkspaceRules::columnBodyPrecedence()
{
    QCOMPARE(transcriptBody(true, true, false), ColumnBody::summary);
    QCOMPARE(transcriptBody(false, true, false), ColumnBody::protocol);
    QCOMPARE(transcriptBody(true, false, true), ColumnBody::history);
    QCOMPARE(transcriptBody(true, true, true), ColumnBody::protocol);
    QCOMPARE(translationBody(true, true, true, false), ColumnBody::summary);
    QCOMPARE(translationBody(false, true, true, false), ColumnBody::protocol);
    QCOMPARE(translationBody(false, false, true, false), ColumnBody::answer);
    QCOMPARE(translationBody(true, false, true, true), ColumnBody::answer);
    QCOMPARE(translationBody(false, false, false, false), ColumnBody::history);
    QVERIFY(showsHistoryPlaceholder(0, QStringLiteral("  "), QStringLiteral("\n")));
    QVERIFY(!showsHistoryPlaceholder(0, {}, QStringLiteral("draft")));
    QVERIFY(!showsHistoryPlaceholder(1, {}, {}));
}

void tst_WorkspaceRules::resultStates_data()
{
    QTest::addColumn<bool>("loading");
    QTest::addColumn<bool>("hasError");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("copy");

    QTest::newRow("loading wins over text") << true << false << QString() << QStringLiteral("old") << int(ResultContent::loading) << false;
    QTest::newRow("loading wins over an error") << true << true << QStringLiteral("e") << QString() << int(ResultContent::loading) << false;
    QTest::newRow("error with text keeps copy") << false << true << QStringLiteral("e") << QStringLiteral("t") << int(ResultContent::error) << true;
    QTest::newRow("empty error is still an error") << false << true << QString() << QString() << int(ResultContent::error) << false;
    QTest::newRow("spaces are a result") << false << false << QString() << QStringLiteral("   ") << int(ResultContent::result) << true;
    QTest::newRow("nothing") << false << false << QString() << QString() << int(ResultContent::empty) << false;
}

void tst_WorkspaceRules::resultStates()
{
    QFETCH(bool, loading);
    QFETCH(bool, hasError);
    QFETCH(QString, error);
    QFETCH(QString, text);
    QFETCH(int, state);
    QFETCH(bool, copy);
    const std::optional<QString> message = hasError ? std::optional(error) : std::nullopt;
    QCOMPARE(int(resultContent(loading, message, text)), state);
    QCOMPARE(resultCopyEnabled(loading, text), copy);
}

void tst_WorkspaceRules::primaryAction_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("micBusy");
    QTest::addColumn<bool>("restoring");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("systemAudio");
    QTest::addColumn<bool>("disabled");

    QTest::newRow("idle, signed in") << false << false << false << false << true << false << false;
    QTest::newRow("restoring") << false << false << false << true << true << false << true;
    QTest::newRow("signed out") << false << false << false << false << false << false << true;
    QTest::newRow("system audio already captured") << false << false << false << false << true << true << true;
    QTest::newRow("busy") << false << true << false << false << true << false << true;
    QTest::newRow("microphone busy does not block a start") << false << false << true << false << true << false << false;
    QTest::newRow("active: stop allowed even signed out") << true << false << false << false << false << true << false;
    QTest::newRow("active, microphone busy") << true << false << true << false << true << false << true;
}

void tst_WorkspaceRules::primaryAction()
{
    PrimaryActionState state;
    QFETCH(bool, active);
    QFETCH(bool, busy);
    QFETCH(bool, micBusy);
    QFETCH(bool, restoring);
    QFETCH(bool, signedIn);
    QFETCH(bool, systemAudio);
    QFETCH(bool, disabled);
    state.hasActiveSession = active;
    state.isBusy = busy;
    state.isMicrophoneBusy = micBusy;
    state.isRestoringSession = restoring;
    state.isAuthenticated = signedIn;
    state.isSystemAudioListening = systemAudio;
    QCOMPARE(primaryActionDisabled(state), disabled);
}

void tst_WorkspaceRules::scrollSignature()
{
    QCOMPARE(WorkspaceRules::scrollSignature(0, nullptr, QStringLiteral(" \n ")), QStringLiteral("empty-"));
    DialogueEntry row;
    row.id = QUuid(QStringLiteral("{0b2c3d4e-1111-2222-3333-444455556666}"));
    row.text = QStringLiteral("e\u0301te"); // three characters, four code units
    row.isDraft = true;
    QCOMPARE(WorkspaceRules::scrollSignature(2, &row, QStringLiteral("  next ")),
             QStringLiteral("2-0B2C3D4E-1111-2222-3333-444455556666-3-true-next"));
}

QTEST_APPLESS_MAIN(tst_WorkspaceRules)
#include "tst_WorkspaceRules.moc"

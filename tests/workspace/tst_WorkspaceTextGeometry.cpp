// Where the main window's transcript and translation tell a client on the accessibility bus their
// characters lie, asked over the bus itself as a screen reader's flat review asks: every point of a
// column's box has a character, which lies in that box and is the one found at its own place; a
// turn scrolled above the box lies nowhere on the screen; a point outside the box has none.

#include "WorkspaceHarness.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "support/AccessibilityBus.h"
#include "support/X11TestMain.h"
#include "workspace/widgets/DialogueHistoryPanel.h"
#include "workspace/widgets/WorkspaceTextColumn.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QScrollBar>
#include <QTest>

#include <memory>

using namespace WorkspaceTest;

namespace {

constexpr uint screenCoordinates = 0;

// One call of the accessibility bus's Text interface to `part`, as a client makes it.
QList<QVariant> askText(QAccessibleInterface *part, const QString &method, const QList<QVariant> &arguments)
{
    QDBusConnection a11y(QStringLiteral("a11y"));
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/%1").arg(QAccessible::uniqueId(part));
    QDBusMessage call = QDBusMessage::createMethodCall(a11y.baseService(), path, QStringLiteral("org.a11y.atspi.Text"), method);
    call.setArguments(arguments);
    QDBusPendingCallWatcher answer(a11y.asyncCall(call, 20000));
    if (!QTest::qWaitFor([&answer] { return answer.isFinished(); }, 20000) || answer.isError())
        return {};
    return answer.reply().arguments();
}

int offsetAt(QAccessibleInterface *part, const QPoint &point)
{
    const QList<QVariant> answer = askText(part, QStringLiteral("GetOffsetAtPoint"), {point.x(), point.y(), screenCoordinates});
    return answer.isEmpty() ? -2 : answer.first().toInt();
}

QRect extentsOf(QAccessibleInterface *part, int offset)
{
    const QList<QVariant> answer = askText(part, QStringLiteral("GetCharacterExtents"), {offset, screenCoordinates});
    if (answer.size() != 4)
        return QRect(-1, -1, -1, -1);
    return QRect(answer.at(0).toInt(), answer.at(1).toInt(), answer.at(2).toInt(), answer.at(3).toInt());
}

} // namespace

class tst_WorkspaceTextGeometry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { KavrelAccessibleFactory::install(); }
    void cleanupTestCase() { m_bus.reset(); }
    void charactersLieInTheirOwnBox_data();
    void charactersLieInTheirOwnBox();

private:
    // One bus for every row: Qt's bridge joins the first one only.
    std::unique_ptr<AccessibilityBus::Listener> m_bus;
};

void tst_WorkspaceTextGeometry::charactersLieInTheirOwnBox_data()
{
    QTest::addColumn<bool>("translation");
    QTest::newRow("transcript") << false;
    QTest::newRow("translation") << true;
}

void tst_WorkspaceTextGeometry::charactersLieInTheirOwnBox()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    QFETCH(bool, translation);
    if (!m_bus) {
        m_bus = std::make_unique<AccessibilityBus::Listener>(false);
        if (QTest::currentTestFailed())
            return;
    }
    Workspace w;
    w.view->resize(1280, 800);
    w.view->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.view.get()));
    w.fillTurns(30, true);
    DialogueHistoryPanel *panel = (translation ? w.view->translationColumn() : w.view->transcriptColumn())->historyPanel();
    QTRY_VERIFY(panel->verticalScrollBar()->maximum() > 0);
    // Between the first turn and the last, both out of sight.
    panel->verticalScrollBar()->setValue(panel->verticalScrollBar()->maximum() / 2);
    QTest::qWait(50);
    QAccessibleInterface *part = QAccessible::queryAccessibleInterface(panel);
    QVERIFY(part && part->textInterface());
    const QWidget *viewport = panel->viewport();
    const QRect box(viewport->mapToGlobal(QPoint(0, 0)), viewport->size());

    // Every point of the box, its corners and edges too, has a character; the character lies in
    // the box, and its own place gives it back.
    QList<QPoint> points{box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()};
    for (int row = 0; row < 6; ++row) {
        for (int column = 0; column < 5; ++column)
            points.append(box.topLeft() + QPoint((box.width() - 1) * column / 4, (box.height() - 1) * row / 5));
    }
    for (const QPoint &point : std::as_const(points)) {
        const int offset = offsetAt(part, point);
        QVERIFY2(offset >= 0, qPrintable(QStringLiteral("%1 at (%2, %3) of %4,%5 %6x%7")
                                              .arg(offset).arg(point.x()).arg(point.y())
                                              .arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height())));
        const QRect extents = extentsOf(part, offset);
        QVERIFY2(!extents.isEmpty() && box.contains(extents),
                 qPrintable(QStringLiteral("character %1 lies at %2,%3 %4x%5")
                                .arg(offset).arg(extents.x()).arg(extents.y()).arg(extents.width()).arg(extents.height())));
        QCOMPARE(offsetAt(part, extents.center()), offset);
    }
    // The first turn, scrolled above the box, lies nowhere on the screen.
    QVERIFY(extentsOf(part, 0).isEmpty());
    const int top = offsetAt(part, box.topLeft());
    QVERIFY(top > 0);
    // Outside the box, nothing: beside it, above and below it.
    for (const QPoint &outside : {box.topLeft() - QPoint(1, 0), box.topLeft() - QPoint(0, 1), box.bottomRight() + QPoint(0, 1),
                                  box.bottomRight() + QPoint(1, 0)})
        QCOMPARE(offsetAt(part, outside), -1);
}

KAVREL_X11_TEST_MAIN(tst_WorkspaceTextGeometry, "KAVREL_TEST_X11")
#include "tst_WorkspaceTextGeometry.moc"

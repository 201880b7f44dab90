// A control that keeps the keyboard while its name or its availability changes is told to a screen
// reader as the keyboard coming to it: one focus event, under an identity the reader has not
// spoken yet, with its new name and state, while it keeps the keyboard. A control without the
// keyboard, or a change a reader does not speak, is told nothing more. On the test X server, with
// the accessibility bus up and Qt's bridge speaking on it.

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "support/AccessibilityBus.h"
#include "support/X11TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QTest>

#include <memory>

namespace {

enum class Change { rename, hold, holdAndRename, release, renameAnother, describe, sameName, sameState };

QList<AccessibilityBus::Event> focusEvents(const QList<AccessibilityBus::Event> &events)
{
    QList<AccessibilityBus::Event> focus;
    for (const AccessibilityBus::Event &event : events) {
        if (event.type == QAccessible::Focus)
            focus.append(event);
    }
    return focus;
}

} // namespace

Q_DECLARE_METATYPE(Change)

class tst_KavrelKeptFocusAnnouncer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { KavrelAccessibleFactory::install(); }
    void cleanupTestCase() { m_bus.reset(); }
    void keptControlIsAnnounced_data();
    void keptControlIsAnnounced();

private:
    // One bus for every row: Qt's bridge joins the first one only.
    std::unique_ptr<AccessibilityBus::Listener> m_bus;
};

void tst_KavrelKeptFocusAnnouncer::keptControlIsAnnounced_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("heard"); // the name told, or none
    QTest::addColumn<bool>("available");
    QTest::newRow("renamed") << Change::rename << QStringLiteral("Начать прослушивание") << true;
    QTest::newRow("held") << Change::hold << QStringLiteral("Остановить прослушивание") << false;
    QTest::newRow("held and renamed at once") << Change::holdAndRename << QStringLiteral("Начать прослушивание") << false;
    QTest::newRow("available again") << Change::release << QStringLiteral("Остановить прослушивание") << true;
    QTest::newRow("another control renamed") << Change::renameAnother << QString() << true;
    QTest::newRow("description changed") << Change::describe << QString() << true;
    // A view refreshed with what it already shows tells nothing anew.
    QTest::newRow("named again as it reads") << Change::sameName << QString() << true;
    QTest::newRow("held, then named again as it reads") << Change::sameState << QString() << false;
}

void tst_KavrelKeptFocusAnnouncer::keptControlIsAnnounced()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts one");
    QFETCH(Change, change);
    QFETCH(QString, heard);
    QFETCH(bool, available);
    if (!m_bus) {
        m_bus = std::make_unique<AccessibilityBus::Listener>(true, true);
        if (QTest::currentTestFailed())
            return;
    }
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *control = new KavrelCapsuleButton(&window);
    auto *other = new KavrelCapsuleButton(&window);
    for (KavrelCapsuleButton *button : {control, other}) {
        button->setText(QStringLiteral("Остановить прослушивание"));
        button->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(button);
    }
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    control->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(control->hasFocus());
    // The window manager's focus settles.
    QTest::qWait(100);
    m_bus->take();
    if (change == Change::release) {
        KavrelFocusHold::setAvailable(control, false);
        QList<AccessibilityBus::Event> held;
        QTRY_VERIFY((held += focusEvents(m_bus->take()), !held.isEmpty()));
        m_bus->take();
    }
    if (change == Change::sameState) {
        KavrelFocusHold::setAvailable(control, false);
        QList<AccessibilityBus::Event> held;
        QTRY_VERIFY((held += focusEvents(m_bus->take()), !held.isEmpty()));
        QTest::qWait(100);
        m_bus->take();
    }
    const QAccessible::Id before = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(control));

    switch (change) {
    case Change::rename:
        control->setText(heard);
        break;
    case Change::hold:
        KavrelFocusHold::setAvailable(control, false);
        break;
    case Change::holdAndRename:
        KavrelFocusHold::setAvailable(control, false);
        control->setText(heard);
        break;
    case Change::release:
        KavrelFocusHold::setAvailable(control, true);
        break;
    case Change::renameAnother:
        other->setText(QStringLiteral("Начать прослушивание"));
        break;
    case Change::describe:
        control->setAccessibleDescription(QStringLiteral("Stops the meeting"));
        break;
    case Change::sameName:
        control->setAccessibleName(control->text());
        control->setAccessibleName(control->text());
        break;
    case Change::sameState:
        KavrelFocusHold::setAvailable(control, false);
        control->setAccessibleName(control->text());
        break;
    }
    QList<AccessibilityBus::Event> told;
    if (!heard.isEmpty())
        QTRY_VERIFY((told += focusEvents(m_bus->take()), !told.isEmpty()));
    // Nothing else follows.
    QTest::qWait(300);
    told += focusEvents(m_bus->take());
    QVERIFY(control->hasFocus());
    if (heard.isEmpty()) {
        QCOMPARE(told.size(), 0);
        QCOMPARE(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(control)), before);
        return;
    }
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.first().name, heard);
    QCOMPARE(told.first().role, QAccessible::Button);
    QVERIFY(told.first().id != before);
    QAccessibleInterface *now = QAccessible::queryAccessibleInterface(control);
    QCOMPARE(QAccessible::uniqueId(now), told.first().id);
    QVERIFY(!QAccessible::accessibleInterface(before));
    QVERIFY(now->state().focused);
    QCOMPARE(!now->state().disabled, available);
    QCOMPARE(now->text(QAccessible::Name), heard);
    QCOMPARE(now->parent()->indexOfChild(now), 0);
}

KAVREL_X11_TEST_MAIN(tst_KavrelKeptFocusAnnouncer, "KAVREL_TEST_X11")
#include "tst_KavrelKeptFocusAnnouncer.moc"

// The update check's box over a running meeting (asked for from the tray's menu), closed with a
// key pressed twice (Space or Return, 150 ms or 700 ms apart) or with Escape, on the real X server
// with its window manager, in Russian, the main window's keyboard on "Остановить прослушивание":
// the box goes, the window manager gives the keyboard back to the main window, and the second key
// comes there. The meeting goes on; one Space on the stop control afterwards stops it.

#include "KeyPressedAgain.h"

#include "support/X11TestInput.h"
#include "support/X11TestMain.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>

#include <memory>

using namespace KeyPressedAgain;

class tst_KavrelKeyBurstOnUpdateBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void secondKeyAfterTheBox_data();
    void secondKeyAfterTheBox();

private:
    std::unique_ptr<Program> m_program;
};

void tst_KavrelKeyBurstOnUpdateBox::initTestCase()
{
    m_program = programListening();
    if (!m_program)
        QSKIP("no window manager: run under scripts/test, which starts one");
    QVERIFY(m_program->window);
}

void tst_KavrelKeyBurstOnUpdateBox::cleanupTestCase()
{
    endProgram(m_program);
}

void tst_KavrelKeyBurstOnUpdateBox::secondKeyAfterTheBox_data()
{
    addKeyBurstRows();
}

void tst_KavrelKeyBurstOnUpdateBox::secondKeyAfterTheBox()
{
    QFETCH(QStringList, keys);
    QFETCH(int, apartMs);
    Program &program = *m_program;
    if (!program.model().hasActiveSession())
        QVERIFY(program.openAndListen());
    QWidget *stop = program.view->primaryButton();
    QVERIFY(keyboardTo(stop));
    const QString stopName = describe(stop);

    program.tray.rebuildMenu();
    QAction *check = nullptr;
    for (QAction *action : program.tray.menu()->actions()) {
        if (action->text() == KavrelLocalizationStore::shared().localized(QStringLiteral("Check for Updates...")))
            check = action;
    }
    QVERIFY(check);
    check->trigger();
    QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeWindow()));
    QVERIFY(X11TestWindows::settledActive(QApplication::activeWindow()));

    QVERIFY(X11TestInput::keys(keys, apartMs));
    meetingGoesOnThenOneSpaceStops(program, stop, stopName);
}

KAVREL_X11_TEST_MAIN(tst_KavrelKeyBurstOnUpdateBox, "KAVREL_TEST_TRAY")

#include "tst_KavrelKeyBurstOnUpdateBox.moc"

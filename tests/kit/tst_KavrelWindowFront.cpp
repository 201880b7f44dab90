// Two questions open over one window (a sheet, and a question asked over it from elsewhere), on
// the real X server with its window manager: when the window is clicked or brought forward, the
// question shown last takes the keyboard and keeps it; the window manager's focus does not go back
// and forth between the two. Its answer acts at a key, and the sheet under it at its own next.

#include "kit/widgets/KavrelWindowFront.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"
#include "support/X11TestWindows.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

class tst_KavrelWindowFront : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void lastQuestionKeepsTheKeyboard_data();
    void lastQuestionKeepsTheKeyboard();
};

void tst_KavrelWindowFront::init()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server with a window manager: run under scripts/test, which starts them");
}

void tst_KavrelWindowFront::lastQuestionKeepsTheKeyboard_data()
{
    QTest::addColumn<QString>("wayBack");
    QTest::newRow("a click on the window") << QStringLiteral("click");
    QTest::newRow("the window brought forward") << QStringLiteral("bring forward");
}

void tst_KavrelWindowFront::lastQuestionKeepsTheKeyboard()
{
    QFETCH(QString, wayBack);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Window"));
    window.setGeometry(60, 60, 900, 600);
    KavrelWindowFront::bringForward(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Both modal to the window, as the setup sheet and the start question are to the main window.
    auto *sheet = new QDialog(&window);
    sheet->setWindowTitle(QStringLiteral("Sheet"));
    sheet->resize(420, 500);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), sheet);
    (new QVBoxLayout(sheet))->addWidget(cancel);
    QObject::connect(cancel, &QPushButton::clicked, sheet, &QDialog::reject);
    sheet->open();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
    auto *question = new QMessageBox(QMessageBox::Information, QStringLiteral("Question"), QStringLiteral("Start?"),
                                     QMessageBox::NoButton, &window);
    QPushButton *yes = question->addButton(QStringLiteral("Yes"), QMessageBox::AcceptRole);
    question->addButton(QStringLiteral("No"), QMessageBox::RejectRole);
    question->setDefaultButton(yes);
    question->setWindowModality(Qt::WindowModal);
    question->open();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(question));

    if (wayBack == QLatin1String("click")) {
        // The window's corner, which neither question covers.
        QVERIFY(X11TestInput::click(window.mapToGlobal(QPoint(20, window.height() - 20))));
    } else {
        KavrelWindowFront::bringForward(&window);
    }
    QTRY_COMPARE(X11TestWindows::activeWindow(), std::optional<quint32>(quint32(question->winId())));

    // It stays with the question while nothing is pressed.
    QSet<quint32> active;
    QElapsedTimer watch;
    watch.start();
    while (watch.elapsed() < 600) {
        QTest::qWait(10);
        if (const std::optional<quint32> now = X11TestWindows::activeWindow())
            active.insert(*now);
    }
    QCOMPARE(active, QSet<quint32>{quint32(question->winId())});
    QCOMPARE(QApplication::activeWindow(), static_cast<QWidget *>(question));

    // The keys answer the question, then close the sheet.
    QSignalSpy answered(question, &QDialog::finished);
    QVERIFY(X11TestInput::keys({QStringLiteral("Return")}));
    QTRY_COMPARE(answered.size(), 1);
    QCOMPARE(question->clickedButton(), static_cast<QAbstractButton *>(yes));
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(sheet));
    QSignalSpy cancelled(sheet, &QDialog::finished);
    QVERIFY(X11TestInput::keys({QStringLiteral("Escape")}));
    QTRY_COMPARE(cancelled.size(), 1);
    QCOMPARE(cancelled.first().first().toInt(), int(QDialog::Rejected));
}

KAVREL_X11_TEST_MAIN(tst_KavrelWindowFront, "KAVREL_TEST_X11")

#include "tst_KavrelWindowFront.moc"

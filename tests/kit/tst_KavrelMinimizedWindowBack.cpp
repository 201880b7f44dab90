// A minimized window the user asks for comes back where the program cannot ask the desktop to
// restore it (Wayland; here the offscreen platform, which tells no window manager either): it is
// hidden and shown again, in its normal state, with the question open over it in front. Shown on
// the program's own account it stays minimized.

#include "kit/widgets/KavrelWindowFront.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTest>

namespace {

// Whether the window left the screen on its way back: a hide before it was shown again.
class ShowWatch final : public QObject
{
public:
    explicit ShowWatch(QWidget *window) { window->installEventFilter(this); }
    bool hidden = false;
    bool shownAfterHiding = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide)
            hidden = true;
        else if (event->type() == QEvent::Show && hidden)
            shownAfterHiding = true;
        return false;
    }
};

} // namespace

class tst_KavrelMinimizedWindowBack : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void broughtForward_data();
    void broughtForward();
};

void tst_KavrelMinimizedWindowBack::broughtForward_data()
{
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("takesFocus");
    QTest::addColumn<bool>("showsAfresh");
    QTest::addColumn<bool>("minimizedAfter");
    QTest::newRow("minimized, asked for") << true << true << true << false;
    QTest::newRow("minimized, shown by the program") << true << false << false << true;
    QTest::newRow("on screen, asked for") << false << true << false << false;
}

void tst_KavrelMinimizedWindowBack::broughtForward()
{
    QFETCH(bool, minimized);
    QFETCH(bool, takesFocus);
    QFETCH(bool, showsAfresh);
    QFETCH(bool, minimizedAfter);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Window"));
    window.resize(600, 400);
    KavrelWindowFront::bringForward(&window);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *question = new QMessageBox(QMessageBox::Question, QStringLiteral("Question"), QStringLiteral("Start?"),
                                     QMessageBox::Yes | QMessageBox::No, &window);
    question->setWindowModality(Qt::WindowModal);
    question->open();
    QTRY_VERIFY(question->isVisible());
    if (minimized) {
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
    }

    ShowWatch watch(&window);
    KavrelWindowFront::bringForward(&window, takesFocus ? KavrelWindowFront::Focus::take : KavrelWindowFront::Focus::leave);
    QCOMPARE(watch.hidden, showsAfresh);
    QCOMPARE(watch.shownAfterHiding, showsAfresh);
    QCOMPARE(window.isMinimized(), minimizedAfter);
    QVERIFY(window.isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The question is still open, shown over its window.
    QTRY_VERIFY(question->isVisible());
    QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget *>(question));
}

QTEST_MAIN(tst_KavrelMinimizedWindowBack)
#include "tst_KavrelMinimizedWindowBack.moc"

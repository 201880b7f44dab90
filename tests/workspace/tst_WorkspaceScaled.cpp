// The main window at 200 % scale (QT_SCALE_FACTOR=2), listening with translation, for review
// by eye.

#include "WorkspaceScenes.h"

#include <QApplication>

using namespace WorkspaceTest;

class tst_WorkspaceScaled final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listeningAtDoubleScale();
};

void tst_WorkspaceScaled::listeningAtDoubleScale()
{
    QCOMPARE(qgetenv("QT_SCALE_FACTOR"), QByteArray("2"));
    const Screenshots::Variant variant = Screenshots::variants().at(2); // light, Russian
    Workspace w;
    applyVariant(w, variant);
    ScreenFitCheck::resizeWindow(w.view.get(), QSize(1100, 820));
    w.view->show();
    QVERIFY(listenWithTurns(w));
    QTest::qWait(120);
    QVERIFY(!Screenshots::write(w.view.get(), QStringLiteral("workspace-listening-200-") + variant.suffix).isEmpty());
    QVERIFY(w.engine.stop());
}

int main(int argc, char **argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    tst_WorkspaceScaled test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_WorkspaceScaled.moc"

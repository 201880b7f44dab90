// The start questions as message boxes: the caller's coroutine waits for the answer while the
// event loop goes on (no nested loop), and each answer maps to its result.

#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "session/widgets/MessageBoxListeningStartPrompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

template<typename T>
QCoro::Task<void> keep(QCoro::Task<T> task, std::optional<T> *result)
{
    T value = co_await std::move(task);
    *result = value;
}

QMessageBox *openBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

QAbstractButton *buttonNamed(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

class tst_MessageBoxListeningStartPrompts final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data();
    void answers();
    void windowClosedWhileAsking();
    void explanationOnOneLine_data();
    void explanationOnOneLine();
};

void tst_MessageBoxListeningStartPrompts::answers_data()
{
    QTest::addColumn<bool>("startQuestion");
    QTest::addColumn<QString>("click");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("first");

    QTest::newRow("start new") << true << "Start New" << "Start listening?" << true;
    QTest::newRow("continue") << true << "Continue" << "Start listening?" << false;
    QTest::newRow("closed with escape continues") << true << "" << "Start listening?" << false;
    QTest::newRow("turn on microphone") << false << "Turn On Microphone" << "Turn on microphone?" << true;
    QTest::newRow("without mic") << false << "Continue Without Mic" << "Turn on microphone?" << false;
}

void tst_MessageBoxListeningStartPrompts::answers()
{
    QFETCH(bool, startQuestion);
    QFETCH(QString, click);
    QFETCH(QString, text);
    QFETCH(bool, first);

    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore localization(defaults);
    localization.setLanguage(KavrelAppLanguage::english);
    QWidget window;
    window.show();
    MessageBoxListeningStartPrompts prompts(localization, [&window] { return &window; });

    std::optional<ListeningSessionStartMode> mode;
    std::optional<bool> microphone;
    QCoro::Task<void> waiting = startQuestion ? keep(prompts.askStartMode(), &mode) : keep(prompts.askMicrophone(), &microphone);

    // The question is open and the caller is still waiting: nothing was decided in a nested loop.
    QTRY_VERIFY(openBox() != nullptr);
    QVERIFY(!mode && !microphone);
    QMessageBox *box = openBox();
    QCOMPARE(box->text(), text);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    // For review by eye: build/screenshots/ of the source tree.
    if (QTest::currentDataTag() == QLatin1String("start new") || QTest::currentDataTag() == QLatin1String("without mic")) {
        const QString root = qEnvironmentVariable("KAVREL_TEST_SOURCE_DIR", QDir::currentPath());
        QDir().mkpath(root + QStringLiteral("/build/screenshots"));
        box->grab().save(root + QStringLiteral("/build/screenshots/session-%1-prompt.png").arg(startQuestion ? "start" : "microphone"));
    }
    if (click.isEmpty()) {
        QTest::keyClick(box, Qt::Key_Escape);
    } else {
        QAbstractButton *button = buttonNamed(box, click);
        QVERIFY(button);
        button->click();
    }
    QTRY_VERIFY(mode || microphone);
    if (startQuestion)
        QCOMPARE(*mode, first ? ListeningSessionStartMode::newSession : ListeningSessionStartMode::continuePrevious);
    else
        QCOMPARE(*microphone, first);
    QTRY_VERIFY(openBox() == nullptr);
}

void tst_MessageBoxListeningStartPrompts::windowClosedWhileAsking()
{
    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore localization(defaults);
    auto *window = new QWidget();
    window->show();
    MessageBoxListeningStartPrompts prompts(localization, [window] { return window; });
    std::optional<bool> microphone;
    QCoro::Task<void> waiting = keep(prompts.askMicrophone(), &microphone);
    QTRY_VERIFY(openBox() != nullptr);
    delete window; // the question goes with it; the caller is not left waiting
    QTRY_VERIFY(microphone.has_value());
    QCOMPARE(*microphone, false);
}

void tst_MessageBoxListeningStartPrompts::explanationOnOneLine_data()
{
    QTest::addColumn<bool>("startQuestion");
    QTest::addColumn<KavrelAppLanguage>("language");
    for (const KavrelAppLanguage language : {KavrelAppLanguage::russian, KavrelAppLanguage::english}) {
        const QByteArray suffix = language == KavrelAppLanguage::russian ? " ru" : " en";
        QTest::newRow("start" + suffix) << true << language;
        QTest::newRow("microphone" + suffix) << false << language;
    }
}

// The box sizes itself by its buttons: the explanation, one short sentence, must not wrap with
// its last word alone below.
void tst_MessageBoxListeningStartPrompts::explanationOnOneLine()
{
    QFETCH(bool, startQuestion);
    QFETCH(KavrelAppLanguage, language);
    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore localization(defaults);
    localization.setLanguage(language);
    QWidget window;
    window.show();
    MessageBoxListeningStartPrompts prompts(localization, [&window] { return &window; });
    std::optional<ListeningSessionStartMode> mode;
    std::optional<bool> microphone;
    QCoro::Task<void> waiting = startQuestion ? keep(prompts.askStartMode(), &mode) : keep(prompts.askMicrophone(), &microphone);
    QTRY_VERIFY(openBox() != nullptr);
    QMessageBox *box = openBox();
    auto *explanation = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    QVERIFY(explanation && explanation->isVisible());
    QTRY_VERIFY(explanation->width() > 0);
    // (The label's own height is what the box's row gives it; the text needs this much.)
    const QMargins margins = explanation->contentsMargins();
    const int textHeight = explanation->heightForWidth(explanation->width()) - margins.top() - margins.bottom();
    QVERIFY2(textHeight < 2 * explanation->fontMetrics().lineSpacing(),
             qPrintable(QStringLiteral("«%1» wraps in %2 px").arg(explanation->text()).arg(explanation->width())));
    QTest::keyClick(box, Qt::Key_Escape);
    QTRY_VERIFY(mode || microphone);
}

QTEST_MAIN(tst_MessageBoxListeningStartPrompts)
#include "tst_MessageBoxListeningStartPrompts.moc"

// The published surface: settings and the language-pair rule, the stored microphone setting,
// the start questions, derived texts and the clipboard.

#include "SessionTestFakes.h"

#include "session/ListeningStartPrompts.h"
#include "session/SessionTurnStore.h"
#include "support/TaskResult.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

using namespace SessionTest;

namespace {

class ScriptedPrompts final : public ListeningStartPrompts
{
public:
    ListeningSessionStartMode mode = ListeningSessionStartMode::newSession;
    bool microphone = false;
    // The user takes a while to answer the first question.
    bool holdAnswer = false;
    QStringList asked;
    int raised = 0;

    QCoro::Task<ListeningSessionStartMode> askStartMode() override
    {
        asked.append(QStringLiteral("start"));
        do {
            co_await yieldOnce();
        } while (holdAnswer);
        co_return mode;
    }
    void raiseOpenQuestion() override { ++raised; }
    QCoro::Task<bool> askMicrophone() override
    {
        asked.append(QStringLiteral("microphone"));
        co_await yieldOnce();
        co_return microphone;
    }
};

} // namespace

class tst_SubtitleViewModel final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void languagePairRule_data();
    void languagePairRule();
    void translationLanguagesForASource();
    void storedMicrophoneSetting();
    void startQuestions_data();
    void startQuestions();
    void oneSetOfStartQuestionsAtATime();
    void derivedTexts();
    void clipboard();
};

void tst_SubtitleViewModel::languagePairRule_data()
{
    QTest::addColumn<SourceLanguageOption>("source");
    QTest::addColumn<TranslationLanguageOption>("target");
    QTest::addColumn<bool>("translationOn");
    QTest::addColumn<TranslationLanguageOption>("expectedTarget");
    QTest::addColumn<bool>("expectedOn");
    QTest::addColumn<bool>("notice");

    QTest::newRow("english source over english target")
        << SourceLanguageOption::english << TranslationLanguageOption::english << true << TranslationLanguageOption::russian << false << true;
    QTest::newRow("russian source over russian target")
        << SourceLanguageOption::russian << TranslationLanguageOption::russian << true << TranslationLanguageOption::english << false << true;
    QTest::newRow("translation off: only the target moves")
        << SourceLanguageOption::english << TranslationLanguageOption::english << false << TranslationLanguageOption::russian << false << false;
    QTest::newRow("different languages change nothing")
        << SourceLanguageOption::german << TranslationLanguageOption::french << true << TranslationLanguageOption::french << true << false;
}

void tst_SubtitleViewModel::languagePairRule()
{
    QFETCH(SourceLanguageOption, source);
    QFETCH(TranslationLanguageOption, target);
    QFETCH(bool, translationOn);
    QFETCH(TranslationLanguageOption, expectedTarget);
    QFETCH(bool, expectedOn);
    QFETCH(bool, notice);

    Engine engine;
    SubtitleViewModel &model = *engine.model;
    model.setSelectedSourceLanguage(SourceLanguageOption::spanish);
    model.setSelectedTranslationLanguage(target);
    model.setTranslationEnabled(translationOn);
    model.turnStore()->setTranslationAvailable(true);
    model.turnStore()->setLiveTranslationPreview(QStringLiteral("vista previa"));

    model.setSelectedSourceLanguage(source);
    QCOMPARE(model.selectedTranslationLanguage(), expectedTarget);
    QCOMPARE(model.isTranslationEnabled(), expectedOn);
    QCOMPARE(model.translationMessage().has_value(), notice);
    if (notice) {
        QCOMPARE(*model.translationMessage(),
                 QStringLiteral("Live translation was turned off because the source and target languages cannot match."));
        QVERIFY(!model.turnStore()->isTranslationAvailable());
        QVERIFY(model.liveTranslationPreview().isEmpty());
    }
}

void tst_SubtitleViewModel::translationLanguagesForASource()
{
    Engine engine;
    engine.model->setSelectedSourceLanguage(SourceLanguageOption::german);
    QCOMPARE(engine.model->availableTranslationLanguages(),
             (QList<TranslationLanguageOption>{TranslationLanguageOption::english, TranslationLanguageOption::russian,
                                               TranslationLanguageOption::spanish, TranslationLanguageOption::french}));
    QCOMPARE(SourceLanguageOptions::code(SourceLanguageOption::spanish), QStringLiteral("es"));
    QCOMPARE(TranslationLanguageOptions::englishName(TranslationLanguageOption::french), QStringLiteral("French"));
    QCOMPARE(SubtitleStatuses::fromRawValue(QStringLiteral("Listening")), std::optional(SubtitleStatus::listening));
    QVERIFY(!SubtitleStatuses::fromRawValue(QStringLiteral("listening")));
}

void tst_SubtitleViewModel::storedMicrophoneSetting()
{
    const QString key = QString::fromLatin1(SubtitleViewModel::startWithMicrophoneDefaultsKey);
    // A fresh launch reads off and writes it.
    Engine engine;
    QVERIFY(!engine.model->startsWithMicrophoneEnabled());
    QCOMPARE(engine.defaults->typeOf(key), UserDefaults::Type::Bool);
    QCOMPARE(engine.defaults->boolValue(key), std::optional<bool>(false));

    engine.model->setStartsWithMicrophoneEnabled(true);
    engine.build();
    QVERIFY(engine.model->startsWithMicrophoneEnabled());

    // A value of another type reads as off.
    engine.model.reset();
    engine.defaults->setString(key, QStringLiteral("true"));
    engine.build();
    QVERIFY(!engine.model->startsWithMicrophoneEnabled());
    QCOMPARE(engine.defaults->boolValue(key), std::optional<bool>(false));
}

void tst_SubtitleViewModel::startQuestions_data()
{
    QTest::addColumn<bool>("includeMicrophone");
    QTest::addColumn<bool>("answerMicrophone");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<bool>("microphoneOn");
    QTest::addColumn<bool>("storedSetting");

    QTest::newRow("microphone requested: one question")
        << true << false << QStringList{"start"} << true << true;
    QTest::newRow("turn on microphone") << false << true << QStringList{"start", "microphone"} << true << true;
    QTest::newRow("continue without mic keeps the setting")
        << false << false << QStringList{"start", "microphone"} << false << false;
}

void tst_SubtitleViewModel::startQuestions()
{
    QFETCH(bool, includeMicrophone);
    QFETCH(bool, answerMicrophone);
    QFETCH(QStringList, asked);
    QFETCH(bool, microphoneOn);
    QFETCH(bool, storedSetting);

    Engine engine;
    ScriptedPrompts prompts;
    prompts.microphone = answerMicrophone;
    engine.model->setStartPrompts(&prompts);
    QVERIFY(runTask(engine.model->promptAndStartListening(includeMicrophone)).succeeded());
    QVERIFY(engine.settle([&] { return !engine.model->isBusy(); }));
    QCOMPARE(prompts.asked, asked);
    QCOMPARE(engine.model->isMicrophoneListening(), microphoneOn);
    QCOMPARE(engine.model->startsWithMicrophoneEnabled(), storedSetting);
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);

    // Nothing is asked while a session listens.
    prompts.asked.clear();
    QVERIFY(runTask(engine.model->promptAndStartListening(false)).succeeded());
    QVERIFY(prompts.asked.isEmpty());
}

void tst_SubtitleViewModel::oneSetOfStartQuestionsAtATime()
{
    Engine engine;
    ScriptedPrompts prompts;
    prompts.holdAnswer = true;
    engine.model->setStartPrompts(&prompts);
    const TaskHandle<void> first = spawnTask([&](CancellationToken) { return engine.model->promptAndStartListening(true); });
    QVERIFY(engine.settle([&] { return prompts.asked.size() == 1; }));
    // The tray, the mini window and a meeting prompt ask while the questions are up.
    for (int request = 0; request < 3; ++request)
        QVERIFY(runTask(engine.model->promptAndStartListening(request % 2 == 0)).succeeded());
    QCOMPARE(prompts.asked, QStringList{"start"});
    QCOMPARE(prompts.raised, 3);

    prompts.holdAnswer = false;
    QVERIFY(engine.settle([&] { return first.isFinished() && !engine.model->isBusy(); }));
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
    QCOMPARE(engine.trace.calls.count(QStringLiteral("speech.connect ru diarize=false utterances=true")), 1);

    // Once answered, the next request asks again.
    QVERIFY(engine.stop());
    QVERIFY(runTask(engine.model->promptAndStartListening(true)).succeeded());
    QCOMPARE(prompts.asked, (QStringList{"start", "start"}));
    QVERIFY(engine.settle([&] { return !engine.model->isBusy(); }));
}

void tst_SubtitleViewModel::derivedTexts()
{
    Engine engine;
    SubtitleViewModel &model = *engine.model;
    QCOMPARE(model.speakerLabel(3), QStringLiteral("Speaker 3"));
    QCOMPARE(model.translationPlaceholderText(),
             QStringLiteral("Translation will appear here as final transcript chunks arrive."));
    QSignalSpy placeholder(&model, &SubtitleViewModel::translationPlaceholderTextChanged);
    model.setTranslationEnabled(false);
    QCOMPARE(placeholder.count(), 1);
    QCOMPARE(model.translationPlaceholderText(), QStringLiteral("Translation is off for this session."));
    QCOMPARE(model.sourceSummaryPanelTitle(), QStringLiteral("Summary \u00B7 ") + engine.localization->localizedLanguageName(KavrelAppLanguage::russian));
    QVERIFY(model.translationPanelTitle().contains(engine.localization->localizedLanguageName(KavrelAppLanguage::english)));

    // A selected device missing from the list shows the default name.
    engine.microphones->devices = {{QStringLiteral("other"), QStringLiteral("Other")}};
    engine.microphones->defaultID = QStringLiteral("gone");
    model.refreshAvailableMicrophones();
    QCOMPARE(model.selectedMicrophoneID(), QStringLiteral("gone"));
    QCOMPARE(model.selectedMicrophoneName(), QStringLiteral("Default microphone"));

    // Published rows follow the turns.
    QSignalSpy entries(&model, &SubtitleViewModel::transcriptEntriesChanged);
    model.turnStore()->applyFinalTranscript(QStringLiteral("Hello there."), false);
    QVERIFY(entries.count() >= 1);
    QCOMPARE(model.transcriptEntries().size(), 1);
    QVERIFY(model.subtitlesText().endsWith(QStringLiteral("] Hello there.")));
    QVERIFY(!model.showsTranscriptDialogueMode());
    model.clearSubtitles();
    QVERIFY(model.transcriptEntries().isEmpty());

    // A live translation growing word by word announces its activity when it starts and ends,
    // not with every word (the toolbar measures itself again for each announcement).
    QSignalSpy activity(&model, &SubtitleViewModel::assistantActivityTextChanged);
    for (const QString &preview : {QStringLiteral("Good"), QStringLiteral("Good morning"), QStringLiteral("Good morning all")})
        model.turnStore()->setLiveTranslationPreview(preview);
    QCOMPARE(activity.count(), 1);
    QCOMPARE(model.assistantActivityText(), std::optional<QString>(QStringLiteral("Translating...")));
    model.turnStore()->setLiveTranslationPreview(QString());
    QCOMPARE(activity.count(), 2);
    QCOMPARE(model.assistantActivityText(), std::nullopt);
}

void tst_SubtitleViewModel::clipboard()
{
    Engine engine;
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    engine.model->copyToPasteboard(QStringLiteral("  \n "));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    engine.model->copyToPasteboard(QStringLiteral("  copied text \n"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("copied text"));
}

QTEST_MAIN(tst_SubtitleViewModel)
#include "tst_SubtitleViewModel.moc"

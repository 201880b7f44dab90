// Memory of a long session: 2,000 turns with live translation and meeting-history saves,
// through the whole engine against the fake backend (translation relay, history endpoint,
// chat proxy). Reports the resident set after 100 and after 2,000 turns, and how much of the
// growth between them is more than the text the session holds. The fake server runs in the
// same process; the meeting it stores is set aside while the figures are taken and reported
// apart.
//
//   bench_session_memory [--turns N]

#include "session/SessionTestFakes.h"

#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "platform/PulseAudioContext.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeTranslationRelay.h"
#include "support/ProcessMemory.h"
#include "support/TestAuth.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

using namespace SessionTest;

namespace {

// The text the session holds: turn texts and translations, as UTF-16.
qint64 textBytes(const SessionTurnStore &turns)
{
    qint64 bytes = 0;
    for (const SessionTurn &turn : turns.turns())
        bytes += (turn.text.size() + turn.translationText.size()) * qint64(sizeof(QChar));
    return bytes;
}

QString sentence(int number)
{
    return QStringLiteral("Turn %1: we went through the numbers for the next quarter and agreed that the rollout "
                          "waits until the test plan for the new release is signed off by everyone.")
        .arg(number);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("app.kavrel.desktop.*.info=false\napp.kavrel.desktop.*.debug=false"));
    int totalTurns = 2000;
    const QStringList arguments = application.arguments();
    const qsizetype turnsAt = arguments.indexOf(QStringLiteral("--turns"));
    if (turnsAt >= 0 && turnsAt + 1 < arguments.size())
        totalTurns = std::max(200, arguments[turnsAt + 1].toInt());

    FakeBackend backend;
    if (!backend.start())
        return 1;
    FakeAuthBackend authBackend(&backend);
    authBackend.registerSession(TestAuth::defaultSession());
    FakeTranslationRelay relay(&backend);
    relay.routeChatCompletions();
    FakeHistoryBackend history(&backend);
    auto auth = TestAuth::signedInService(backend.baseUrl());

    Trace trace;
    SessionServices services = SessionServices::makeDefault(auth.get(), PulseAudioContext::shared());
    services.systemAudio = std::make_unique<FakeSystemAudio>(&trace);
    services.microphones = std::make_unique<FakeMicrophones>(&trace);
    services.recorder = std::make_unique<FakeRecorder>(&trace);
    auto speechPort = std::make_unique<FakeSpeech>(&trace);
    FakeSpeech *speech = speechPort.get();
    services.speechToText = std::move(speechPort);

    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore localization(defaults);
    SubtitleViewModel model(defaults, std::move(services), localization);
    SessionCompanionSet::Timings timings;
    timings.stableRewriteDebounce = std::chrono::milliseconds(5);
    model.companionSet()->setTimings(timings);

    model.startListening(ListeningSessionStartMode::newSession, false);
    if (!QTest::qWaitFor([&] { return !model.isBusy() && model.turnStore()->isTranslationAvailable(); }, 10000)) {
        std::printf("the session did not start\n");
        return 1;
    }

    // The figures leave out the meetings the fake server stores (the harness's): they wait in a
    // file while the figures are taken. Returns what setting them aside gave back.
    const QString asideFile = directory.filePath(QStringLiteral("stored-meetings.cbor"));
    const auto measure = [&](qint64 &rss, qint64 &heap) {
        const qint64 withStore = ProcessMemory::heapInUse();
        if (!history.setMeetingsAside(asideFile))
            std::printf("the fake server's meetings could not be set aside\n");
        rss = ProcessMemory::residentBytes();
        heap = ProcessMemory::heapInUse();
        if (!history.bringMeetingsBack(asideFile))
            std::printf("the fake server's meetings could not be brought back\n");
        return withStore - heap;
    };

    SessionTurnStore &turns = *model.turnStore();
    qint64 rssAt100 = 0;
    qint64 heapAt100 = 0;
    qint64 textAt100 = 0;
    for (int i = 0; i < totalTurns; ++i) {
        speech->final(sentence(i), true);
        // Each turn's translation arrives before the next one is spoken.
        if (!QTest::qWaitFor([&] { return !turns.at(turns.count() - 1).translationText.isEmpty(); }, 5000))
            qFatal("turn %d was not translated", i);
        if ((i + 1) % 50 == 0) {
            TaskHandle<void> save = model.companionSet()->history()->enqueueSnapshotSync(MeetingSessionHistoryStatus::active);
            if (!QTest::qWaitFor([&] { return save.isFinished(); }, 10000))
                qFatal("the meeting was not saved");
            // The fake backend records every request and websocket frame; that memory is the
            // harness's, not the engine's.
            backend.clearRecords();
            history.clearCalls();
            relay.clearV2Received();
        }
        if (i + 1 == 100) {
            QTest::qWait(50);
            measure(rssAt100, heapAt100);
            textAt100 = textBytes(turns);
        }
    }
    QTest::qWait(100);
    qint64 rssAtEnd = 0;
    qint64 heapAtEnd = 0;
    const qint64 storedAtEnd = measure(rssAtEnd, heapAtEnd);
    const qint64 textAtEnd = textBytes(turns);

    const double rssGrowth = double(rssAtEnd - rssAt100);
    const double textGrowth = double(textAtEnd - textAt100);
    std::printf("turns: %d (history saved every 50 turns, %d meeting records)\n", turns.count(), history.meetingCount());
    std::printf("rss after 100 turns:  %8.2f MiB\n", rssAt100 / 1048576.0);
    std::printf("rss after %d turns: %8.2f MiB\n", totalTurns, rssAtEnd / 1048576.0);
    std::printf("text held: %.2f MiB -> %.2f MiB\n", textAt100 / 1048576.0, textAtEnd / 1048576.0);
    std::printf("live heap: %.2f MiB -> %.2f MiB: growth %.2f MiB, beyond the text %+.0f %%\n", heapAt100 / 1048576.0,
                heapAtEnd / 1048576.0, (heapAtEnd - heapAt100) / 1048576.0,
                textGrowth > 0 ? (double(heapAtEnd - heapAt100) - textGrowth) / textGrowth * 100.0 : 0.0);
    std::printf("rss growth %.2f MiB for %.2f MiB of new text: growth beyond the text %+.0f %%\n", rssGrowth / 1048576.0,
                textGrowth / 1048576.0, textGrowth > 0 ? (rssGrowth - textGrowth) / textGrowth * 100.0 : 0.0);

    // Where the live heap of the end is: each share is what letting it go gives back.
    history.clearMeetings();
    const qint64 heapWithDraft = ProcessMemory::heapInUse();
    defaults.remove(QString::fromLatin1(SessionDraftStore::defaultsKey));
    defaults.sync();
    const qint64 heapWithoutDraft = ProcessMemory::heapInUse();
    model.clearSubtitles();
    QTest::qWait(100);
    const qint64 heapWithoutDialogue = ProcessMemory::heapInUse();
    const double engineGrowth = double(heapAtEnd - heapAt100);
    std::printf("of the live heap at the end: %.2f MiB the fake server's stored meeting (the harness's, left out of the "
                "figures), %.2f MiB the draft in the settings cache, %.2f MiB the dialogue (turns, rows, rendered texts), "
                "%.2f MiB above the heap after 100 turns in the rest\n",
                storedAtEnd / 1048576.0, (heapWithDraft - heapWithoutDraft) / 1048576.0,
                (heapWithoutDraft - heapWithoutDialogue) / 1048576.0, (heapWithoutDialogue - heapAt100) / 1048576.0);
    std::printf("engine's heap growth (the stored meeting left out): %.2f MiB, beyond the text %+.0f %%\n",
                engineGrowth / 1048576.0, textGrowth > 0 ? (engineGrowth - textGrowth) / textGrowth * 100.0 : 0.0);

    model.stopActiveSession();
    if (!QTest::qWaitFor([&] { return !model.isBusy(); }, 10000))
        qFatal("the session did not stop");
    return 0;
}

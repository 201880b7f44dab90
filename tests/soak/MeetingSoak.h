#pragma once

// A long meeting through the whole engine against the fake backend, with the faults of a
// real week scripted into it from a seed: the real speech, translation, history, billing and
// AI clients talk to the fake backend's sockets and endpoints; the audio comes from the
// recording fakes above the mixer, and the real recorder writes an M4A per listening stretch.
// Time is accelerated: the meeting's clock moves with the audio fed in, not with the wall.
//
// The run writes down what it did (SoakLedger); at the end SoakChecks compares the engine,
// the draft, the server's records, the usage events and the recordings against it.

#include "soak/SoakLedger.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <random>

class AuthService;
class FakeAuthBackend;
class FakeBackend;
class FakeBillingBackend;
class FakeHistoryBackend;
class FakeSpeechRelay;
class FakeTranslationRelay;
class FakeWebSocketSession;
class KavrelLocalizationStore;
class LocalAudioRecordingService;
class QTimer;
class SubtitleViewModel;
class UserDefaults;
struct RecordedRequest;
struct FakeResponse;

namespace SessionTest {
class FakeMicrophones;
class FakeSystemAudio;
struct Trace;
} // namespace SessionTest

class MeetingSoak final
{
public:
    enum class Fault {
        speechDrop,
        speechRefused,
        translationDrop,
        historyDropped,
        historyServerError,
        tokenExpiry,
        slowAIReply,
        startNewWhileHistoryDown,
        startNewThroughGatewayErrors,
        quitAndRestart,
        startNewWhileHistoryDownThenQuit,
    };

    MeetingSoak(SoakOptions options, SoakReport::Printer printer);
    ~MeetingSoak();

    // Runs the meeting and every check. The misses are in report().
    void run();
    const SoakReport &report() const { return m_report; }

private:
    struct MemoryFigure
    {
        qint64 heap = 0;
        qint64 resident = 0;
        qint64 text = 0;
        qint64 store = 0; // the fake server's stored meetings, left out of the others
        int turns = 0; // the live meeting's
    };

    void setUp();
    void buildEngine();
    void tearDownEngine();
    void schedule();
    void speakTurn(int index, bool closeIt = true);
    void feedAudio(double seconds);
    void runFault(Fault fault, int turn);
    void askAI(int turn);
    void toggleMicrophone();
    void beginStretch();
    void endStretch();
    void beginMeeting();
    void startListening();
    void stopListening();
    // Listening after a fault, with live translation up again.
    void listenAgain();
    // Start New, which ends the listening stretch.
    void startNew();
    // The application's quit: stops and waits for the saves.
    void quit(const QString &what);
    void waitForTranslations(const QString &when);
    // Writes down which turns of the meeting are still without their translation.
    void noteTranslationsInFlight();
    void waitForQuiet(const QString &when);
    MemoryFigure measure(const QString &when);
    // What the live meeting holds in the heap: the figure with the stopped meeting still in the
    // engine, less the figure once Start New has let go of it. What the engine keeps for the
    // work it has done is in both. Ends the meeting.
    qint64 measureMeetingHeld();
    void finish();
    void clearHarnessRecords();
    FakeResponse answerChat(const RecordedRequest &request);
    FakeWebSocketSession *speechSession() const;
    int speechConnectionCount() const;
    QString tagOf(int index) const;
    QString sentence(int index) const;
    static QString faultName(Fault fault);

    // Runs the event loop until the condition holds; false when the time-out passed first.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000);
    // waitFor() that counts as a check.
    bool expect(const std::function<bool()> &condition, const QString &what, int timeoutMs = 20000);

    SoakOptions m_options;
    SoakReport m_report;
    SoakLedger m_ledger;
    std::mt19937 m_random;
    std::multimap<int, Fault> m_faults;
    std::vector<int> m_microphoneToggles;

    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_authBackend;
    std::unique_ptr<FakeSpeechRelay> m_speech;
    std::unique_ptr<FakeTranslationRelay> m_translation;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<FakeBillingBackend> m_billing;
    std::unique_ptr<AuthService> m_auth;
    qint64 m_authClockOffsetSeconds = 0;
    int m_tokenExpiries = 0;

    QTemporaryDir m_directory;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;
    std::unique_ptr<SessionTest::Trace> m_trace;
    SessionTest::FakeSystemAudio *m_systemAudio = nullptr;
    SessionTest::FakeMicrophones *m_microphones = nullptr;
    LocalAudioRecordingService *m_recording = nullptr;
    std::unique_ptr<SubtitleViewModel> m_model;
    // Wakes the waits even when nothing else happens.
    QTimer *m_pulse = nullptr;

    QDateTime m_clock;
    QByteArray m_audio; // one piece of the test signal, 4,096 samples
    qint64 m_recordedBytes = 0;
    int m_spoken = 0; // turns spoken so far (their tags are 0 .. m_spoken - 1)
    int m_aiRequests = 0;
    int m_slowReplyDelayMs = 0;
    int m_slowReplySerial = -1;
    int m_aiAsks = 0;
    int m_tasksBefore = 0;
    qint64 m_heapBefore = 0;
    MemoryFigure m_early;
    MemoryFigure m_late;
    // What a leak would hold (SoakOptions::plantedLeakBytes): it grows with every turn spoken
    // and is given back only when the run is over.
    std::vector<QByteArray> m_plantedLeak;
    QElapsedTimer m_wall;

    friend class SoakChecks;
};

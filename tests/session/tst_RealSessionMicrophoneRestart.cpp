// The user's microphone through a restart of the audio server, on the real components: two
// inputs of the private PulseAudio, its default one and "Beta-Mic", each fed its own tone; Beta-Mic
// chosen. The server drops every client and comes back (Beta-Mic with it, or a second later): the
// program finds its device list again by itself, every view still names Beta-Mic, and what is
// recorded comes from Beta-Mic, also after the microphone is switched off and on again.

#include "audio/MicrophoneCaptureService.h"
#include "platform/PulseAudioContext.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "support/AudioServerOutage.h"
#include "support/RealSessionRig.h"
#include "support/TestAudio.h"
#include "workspace/widgets/WorkspaceMicrophoneControl.h"

#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>

namespace {

const QString betaFeed = QStringLiteral("kavrel_beta_feed");
const QString betaSource = QStringLiteral("kavrel_beta_mic");
const QString betaName = QStringLiteral("Beta-Mic");

// The default input's tone; it must never be heard while Beta-Mic is chosen.
constexpr double defaultTone = 400;

using Pactl = std::function<std::optional<QString>(const QStringList &)>;

// Beta-Mic as a second input of the server: a sink to play into and a source that records it.
class BetaMicrophone
{
public:
    ~BetaMicrophone() { unload(TestAudio::pactl); }

    bool load(const Pactl &pactl)
    {
        const std::optional<QString> sink =
            pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + betaFeed,
                   QStringLiteral("sink_properties=device.description=Kavrel-Beta-Feed")});
        if (!sink)
            return false;
        m_modules << sink->trimmed();
        const std::optional<QString> source = pactl(
            {QStringLiteral("load-module"), QStringLiteral("module-remap-source"), QStringLiteral("source_name=") + betaSource,
             QStringLiteral("master=") + betaFeed + QStringLiteral(".monitor"),
             QStringLiteral("source_properties=device.description=") + betaName});
        if (!source)
            return false;
        m_modules << source->trimmed();
        return true;
    }

    void unload(const Pactl &pactl)
    {
        while (!m_modules.isEmpty())
            pactl({QStringLiteral("unload-module"), m_modules.takeLast()});
    }

private:
    QStringList m_modules;
};

bool lists(const SubtitleViewModel &model, const QString &id)
{
    const QList<MicrophoneInputDevice> devices = model.availableMicrophones();
    return std::any_of(devices.begin(), devices.end(), [&id](const MicrophoneInputDevice &device) { return device.id == id; });
}

} // namespace

class tst_RealSessionMicrophoneRestart final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void theChoiceIsRecordedAcrossARestart_data();
    void theChoiceIsRecordedAcrossARestart();
    void theListComesBackWhileNotListening();

private:
    // Plays the default input's tone and Beta-Mic's at once, to their ends.
    bool playBoth(double betaTone);
    // Every view of the choice names Beta-Mic: the model, the toolbar button and its menu's tick.
    void verifyBetaShown(SubtitleViewModel &model);

    QString m_defaultSource;
    QString m_defaultFeed;
    QTemporaryDir m_files;
    BetaMicrophone m_beta;
};

void tst_RealSessionMicrophoneRestart::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    m_defaultSource = qEnvironmentVariable("KAVREL_TEST_PULSE_MIC_SOURCE");
    m_defaultFeed = qEnvironmentVariable("KAVREL_TEST_PULSE_MIC_FEED");
    QVERIFY(!m_defaultSource.isEmpty() && !m_defaultFeed.isEmpty());
    QVERIFY(m_files.isValid());
    QVERIFY(m_beta.load(TestAudio::pactl));
}

bool tst_RealSessionMicrophoneRestart::playBoth(double betaTone)
{
    const QString dir = m_files.path();
    const QString first = TestAudio::makeTone(dir, QStringLiteral("default.wav"), defaultTone, 1.2, 48000, 2, -6);
    const QString second = TestAudio::makeTone(dir, QStringLiteral("beta-%1.wav").arg(betaTone), betaTone, 1.2, 48000, 2, -6);
    if (first.isEmpty() || second.isEmpty())
        return false;
    // The program runs on meanwhile: its capture hands the audio to this thread, which must
    // have taken all of it before the test goes on (a switch of the microphone drops what the
    // mixer has not yet taken).
    const auto playingFirst = TestAudio::startPlaying(m_defaultFeed, first);
    const auto playingSecond = TestAudio::startPlaying(betaFeed, second);
    if (!playingFirst || !playingSecond)
        return false;
    const auto done = [](const std::unique_ptr<QProcess> &player) {
        return player->state() == QProcess::NotRunning && player->exitStatus() == QProcess::NormalExit
            && player->exitCode() == 0;
    };
    const bool played = QTest::qWaitFor([&] { return done(playingFirst) && done(playingSecond); }, 15000);
    QTest::qWait(500);
    return played;
}

void tst_RealSessionMicrophoneRestart::verifyBetaShown(SubtitleViewModel &model)
{
    QCOMPARE(model.selectedMicrophoneID(), betaSource);
    QCOMPARE(model.selectedMicrophoneName(), betaName);
    WorkspaceMicrophoneControl button(model);
    QVERIFY2(button.labelText().endsWith(betaName), qPrintable(button.labelText()));
    std::unique_ptr<QMenu> menu(button.buildMenu(nullptr));
    QStringList ticked;
    for (const QAction *action : menu->actions()) {
        if (!action->icon().isNull() && !action->isEnabled())
            ticked << action->text();
    }
    QCOMPARE(ticked, QStringList{betaName});
}

void tst_RealSessionMicrophoneRestart::theChoiceIsRecordedAcrossARestart_data()
{
    QTest::addColumn<bool>("betaLate");
    QTest::newRow("both inputs back with the server") << false;
    QTest::newRow("Beta-Mic back a second after the server") << true;
}

void tst_RealSessionMicrophoneRestart::theChoiceIsRecordedAcrossARestart()
{
    QFETCH(bool, betaLate);
    // Beta-Mic's tone before the restart, after it, and after the microphone was off and on.
    const double before = 700;
    const double after = 1000;
    const double again = 1300;

    RealSessionRig rig(m_files.filePath(QStringLiteral("restart.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    // The choice is made from what the program lists, as a user makes it.
    QTRY_VERIFY_WITH_TIMEOUT(lists(model, betaSource) && lists(model, m_defaultSource), 10000);
    QCOMPARE(MicrophoneCaptureService::defaultDeviceID(*PulseAudioContext::shared()), std::optional<QString>(m_defaultSource));
    model.selectMicrophone(betaSource);

    model.startListening(ListeningSessionStartMode::newSession, true);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QVERIFY(model.isMicrophoneListening());
    QVERIFY(playBoth(before));

    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    {
        AudioServerOutage outage;
        QVERIFY(outage.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(context->state() != PulseAudioContext::State::Ready, 10000);
        if (betaLate)
            m_beta.unload([&outage](const QStringList &arguments) { return outage.pactl(arguments); });
        QTest::qWait(1500);
        // Nothing the program read while the server was away changed the choice.
        verifyBetaShown(model);
        QVERIFY(outage.restore());
    }
    if (betaLate) {
        QTRY_VERIFY_WITH_TIMEOUT(context->state() == PulseAudioContext::State::Ready, 10000);
        QTest::qWait(1000);
        QVERIFY(m_beta.load(TestAudio::pactl));
    }
    // The list is back without anyone asking for it, with the choice on Beta-Mic.
    QTRY_VERIFY_WITH_TIMEOUT(lists(model, betaSource) && lists(model, m_defaultSource), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isMicrophoneBusy(), 10000);
    verifyBetaShown(model);
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QVERIFY(model.isMicrophoneListening());
    // The capture's own recovery takes up to a few seconds to find the server again.
    QTest::qWait(2500);
    QVERIFY(playBoth(after));

    // Off and on again: capture starts on the choice, not on the default.
    model.toggleMicrophoneCapture();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isMicrophoneBusy() && !model.isMicrophoneListening(), 10000);
    model.toggleMicrophoneCapture();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isMicrophoneBusy() && model.isMicrophoneListening(), 10000);
    verifyBetaShown(model);
    QVERIFY(playBoth(again));

    model.stopActiveSession();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QFile::remove(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError && recording.sampleRate > 0);
    const auto heard = [&recording](double frequency) {
        return TestAudio::toneBurstOnsets(recording.samples, recording.sampleRate, frequency, 1.0).size();
    };
    const QString figures = QStringLiteral("default %1, Beta-Mic before %2, after %3, again %4")
                                .arg(heard(defaultTone)).arg(heard(before)).arg(heard(after)).arg(heard(again));
    QVERIFY2(heard(defaultTone) == 0, qPrintable(figures));
    QVERIFY2(heard(before) == 1 && heard(after) == 1 && heard(again) == 1, qPrintable(figures));

    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

// Nothing captures, so nothing but the device list asks for the server: it is found again all the
// same, and the next meeting records the choice.
void tst_RealSessionMicrophoneRestart::theListComesBackWhileNotListening()
{
    const double tone = 900;
    RealSessionRig rig(m_files.filePath(QStringLiteral("idle.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    QTRY_VERIFY_WITH_TIMEOUT(lists(model, betaSource) && lists(model, m_defaultSource), 10000);
    model.selectMicrophone(betaSource);

    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    {
        AudioServerOutage outage;
        QVERIFY(outage.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(context->state() != PulseAudioContext::State::Ready, 10000);
        QTest::qWait(2500);
        verifyBetaShown(model);
        QVERIFY(outage.restore());
    }
    QTRY_VERIFY_WITH_TIMEOUT(context->state() == PulseAudioContext::State::Ready, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(lists(model, betaSource) && lists(model, m_defaultSource), 10000);
    verifyBetaShown(model);

    model.startListening(ListeningSessionStartMode::newSession, true);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QVERIFY(model.isMicrophoneListening());
    QVERIFY(playBoth(tone));
    model.stopActiveSession();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QFile::remove(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError && recording.sampleRate > 0);
    QCOMPARE(TestAudio::toneBurstOnsets(recording.samples, recording.sampleRate, defaultTone, 1.0).size(), std::size_t(0));
    QCOMPARE(TestAudio::toneBurstOnsets(recording.samples, recording.sampleRate, tone, 1.0).size(), std::size_t(1));

    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

QTEST_MAIN(tst_RealSessionMicrophoneRestart)
#include "tst_RealSessionMicrophoneRestart.moc"

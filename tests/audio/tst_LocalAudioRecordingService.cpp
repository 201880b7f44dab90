#include "audio/LocalAudioRecordingService.h"
#include "audio/M4AAudioFileWriter.h"
#include "audio/SystemAudioCaptureError.h"
#include "support/FileSizeLimit.h"
#include "support/TaskResult.h"
#include "support/TestAudio.h"
#include "support/Umask.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <qcoro/qcorotask.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <random>
#include <sys/resource.h>

namespace {

const char *const childModeArgument = "--record-until-killed";

// 1024-sample chunks of a tone with continuous phase.
class ToneSource
{
public:
    explicit ToneSource(double frequency) : m_frequency(frequency) {}
    QByteArray next(int samples = 1024)
    {
        std::vector<qint16> chunk(std::size_t(samples), 0);
        for (auto &sample : chunk) {
            sample = qint16(std::lround(12000 * std::sin(2 * M_PI * m_frequency * double(m_position) / 16000.0)));
            ++m_position;
        }
        return TestAudio::chunkOf(chunk);
    }

private:
    double m_frequency;
    qint64 m_position = 0;
};

// Speech-like material: a gliding voice with two overtones under a syllable envelope, over
// faint noise.
std::vector<qint16> speechLike(int samples)
{
    std::vector<qint16> signal(std::size_t(samples), 0);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.003);
    double phase = 0;
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / 16000.0;
        phase += 2 * M_PI * (180 + 40 * std::sin(2 * M_PI * 0.7 * t)) / 16000.0;
        const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3.1 * t);
        const double voice = envelope * (0.3 * std::sin(phase) + 0.12 * std::sin(4 * phase) + 0.05 * std::sin(13 * phase));
        signal[std::size_t(i)] = qint16(std::lround(32767 * (voice + noise(random))));
    }
    return signal;
}

// How close the decoded recording is to what was written, in dB: signal over error, at the
// shift (the encoder's priming) where they match best.
double signalToError(const std::vector<qint16> &written, const std::vector<float> &decoded)
{
    double best = 0;
    for (std::size_t shift = 0; shift <= 2048; ++shift) {
        double signal = 0;
        double error = 0;
        // The middle, away from the encoder's start-up and the last frame's padding.
        for (std::size_t i = 4000; i + 4000 < written.size() && i + shift < decoded.size(); ++i) {
            const double reference = written[i] / 32768.0;
            const double difference = decoded[i + shift] - reference;
            signal += reference * reference;
            error += difference * difference;
        }
        if (error > 0)
            best = std::max(best, 10 * std::log10(signal / error));
    }
    return best;
}

QDateTime fixedStart()
{
    return QDateTime(QDate(2026, 3, 3), QTime(14, 5, 9));
}

QStringList recordingsIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.m4a")}, QDir::Files, QDir::Name);
}

// Appends seconds of tone in mixer-sized chunks.
void appendTone(LocalAudioRecordingService &recorder, ToneSource &tone, double seconds)
{
    const int chunks = int(std::ceil(seconds * 16000 / 1024));
    for (int i = 0; i < chunks; ++i)
        QVERIFY(runTask(recorder.appendMixedAudio(tone.next())).succeeded());
}

double dominantShare(const TestAudio::ReadBack &readBack, double frequency)
{
    // The middle of the recording, away from the encoder's start-up.
    const std::size_t from = readBack.samples.size() / 4;
    const std::size_t count = std::min<std::size_t>(8000, readBack.samples.size() / 2);
    return TestAudio::toneShare(readBack.samples.data() + from, count, 16000, frequency);
}

// The child mode: records a tone much faster than real time and never stops, until it is
// killed.
int recordUntilKilled()
{
    LocalAudioRecordingService recorder;
    recorder.startRecording(true);
    ToneSource tone(440);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &recorder, [&] { recorder.appendMixedAudio(tone.next()); });
    timer.start(2);
    std::printf("recording\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

class tst_LocalAudioRecordingService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void recordingLandsInDownloadsAsAacLcMono16k();
    void noAudioMeansNoFile_data();
    void noAudioMeansNoFile();
    void recordingsNeverReplaceAFile();
    void recordingsFollowTheUmask_data();
    void recordingsFollowTheUmask();
    void cancelDeletesTheRecording();
    void recorderDestroyedWhileFinishingCompletesTheFile();
    void unusableDownloadsFolderIsReported();
    void writeFailureKeepsWhatWasWrittenAndTellsAtOnce_data();
    void writeFailureKeepsWhatWasWrittenAndTellsAtOnce();
    void aDiskThatFallsBehindEndsTheRecording();
    void aRaisedBacklogBoundKeepsAFastBurst();
    void hoursOfSilenceAtOnceAreRecordedInLittleMemory();
    void silenceWrittenAsItsLengthDecodesAsZeroSamples();
    void killedRecorderLeavesAPlayableFile();
    void chunkSizesDoNotChangeTheRecording_data();
    void chunkSizesDoNotChangeTheRecording();
    void recordingIsCloseToWhatWasHeard();

private:
    QTemporaryDir m_home;
    QString m_folder;
};

void tst_LocalAudioRecordingService::initTestCase()
{
    QVERIFY(m_home.isValid());
    // The Downloads folder comes from the user's xdg user-dirs file; point it at a
    // temporary folder (tests never write into a real Downloads folder).
    const QString config = m_home.filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(config));
    QFile userDirs(config + QStringLiteral("/user-dirs.dirs"));
    QVERIFY(userDirs.open(QIODevice::WriteOnly));
    userDirs.write("XDG_DOWNLOAD_DIR=\"" + m_home.filePath(QStringLiteral("Fetched")).toUtf8() + "\"\n");
    userDirs.close();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    m_folder = m_home.filePath(QStringLiteral("Fetched/КАВРЕЛ"));
    QCOMPARE(LocalAudioRecordingService::recordingsFolder(), m_folder);
}

void tst_LocalAudioRecordingService::cleanup()
{
    QDir(m_folder).removeRecursively();
}

void tst_LocalAudioRecordingService::recordingLandsInDownloadsAsAacLcMono16k()
{
    LocalAudioRecordingService recorder(fixedStart);
    recorder.startRecording(true);
    QVERIFY(recordingsIn(m_folder).isEmpty()); // nothing on disk before the first audio
    ToneSource tone(440);
    appendTone(recorder, tone, 10.0);
    const auto finished = runTask(recorder.finishRecording());
    QVERIFY2(finished.succeeded(), qPrintable(finished.errorText()));
    const std::optional<QUrl> url = *finished.value;

    QVERIFY(url);
    QCOMPARE(url->toLocalFile(), m_folder + QStringLiteral("/CapturedAudio-2026-03-03_14-05-09.m4a"));
    const TestAudio::ReadBack readBack = TestAudio::readBack(url->toLocalFile());
    QVERIFY(readBack.opened);
    QVERIFY(!readBack.decodeError);
    QCOMPARE(readBack.codecName, QStringLiteral("aac"));
    QCOMPARE(readBack.profile, int(FF_PROFILE_AAC_LOW));
    QCOMPARE(readBack.sampleRate, 16000);
    QCOMPARE(readBack.channels, 1);
    const double written = 160 * 1024 / 16000.0;
    QVERIFY2(std::abs(readBack.containerDuration - written) <= 0.05 * written,
             qPrintable(QString::number(readBack.containerDuration)));
    const double decoded = double(readBack.decodedSamples) / 16000.0;
    QVERIFY2(std::abs(decoded - written) <= 0.05 * written, qPrintable(QString::number(decoded)));
    QVERIFY(dominantShare(readBack, 440) > 0.9);
}

void tst_LocalAudioRecordingService::noAudioMeansNoFile_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QByteArray>("chunk");
    QTest::newRow("recording off, audio arrives") << false << ToneSource(440).next();
    QTest::newRow("recording on, no audio") << true << QByteArray();
    QTest::newRow("recording on, a stray byte") << true << QByteArray(1, '\x7f');
}

void tst_LocalAudioRecordingService::noAudioMeansNoFile()
{
    QFETCH(bool, enabled);
    QFETCH(QByteArray, chunk);
    LocalAudioRecordingService recorder(fixedStart);
    recorder.startRecording(enabled);
    if (!chunk.isEmpty())
        QVERIFY(runTask(recorder.appendMixedAudio(chunk)).succeeded());
    const auto finished = runTask(recorder.finishRecording());
    QVERIFY2(finished.succeeded(), qPrintable(finished.errorText()));
    const std::optional<QUrl> url = *finished.value;
    QVERIFY(!url);
    QVERIFY(recordingsIn(m_folder).isEmpty());
}

// Recordings started in the same second get names of their own; a file already there is
// never touched.
void tst_LocalAudioRecordingService::recordingsNeverReplaceAFile()
{
    QVERIFY(QDir().mkpath(m_folder));
    const QString taken = m_folder + QStringLiteral("/CapturedAudio-2026-03-03_14-05-09.m4a");
    {
        QFile existing(taken);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("someone else's file");
    }

    LocalAudioRecordingService recorder(fixedStart);
    recorder.startRecording(true);
    ToneSource low(440);
    appendTone(recorder, low, 2.0);
    const auto firstFinished = runTask(recorder.finishRecording());
    QVERIFY2(firstFinished.succeeded(), qPrintable(firstFinished.errorText()));
    const std::optional<QUrl> first = *firstFinished.value;

    recorder.startRecording(true);
    ToneSource high(880);
    appendTone(recorder, high, 2.0);
    const auto secondFinished = runTask(recorder.finishRecording());
    QVERIFY2(secondFinished.succeeded(), qPrintable(secondFinished.errorText()));
    const std::optional<QUrl> second = *secondFinished.value;

    QVERIFY(first && second);
    QCOMPARE(first->toLocalFile(), m_folder + QStringLiteral("/CapturedAudio-2026-03-03_14-05-09-2.m4a"));
    QCOMPARE(second->toLocalFile(), m_folder + QStringLiteral("/CapturedAudio-2026-03-03_14-05-09-3.m4a"));
    QFile existing(taken);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("someone else's file"));
    QVERIFY(dominantShare(TestAudio::readBack(first->toLocalFile()), 440) > 0.9);
    QVERIFY(dominantShare(TestAudio::readBack(second->toLocalFile()), 880) > 0.9);
}

// A recording is a document the user keeps, not one of the program's own files: it and its
// folder take the user's umask, loose or strict.
void tst_LocalAudioRecordingService::recordingsFollowTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("umask 022") << 022;
    QTest::newRow("umask 002") << 002;
    QTest::newRow("umask 077") << 077;
}

void tst_LocalAudioRecordingService::recordingsFollowTheUmask()
{
    QFETCH(int, mask);
    const Umask masked{mode_t(mask)};
    LocalAudioRecordingService recorder(fixedStart);
    recorder.startRecording(true);
    ToneSource tone(440);
    appendTone(recorder, tone, 1.0);
    const auto finished = runTask(recorder.finishRecording());
    QVERIFY2(finished.succeeded(), qPrintable(finished.errorText()));
    QVERIFY(*finished.value);
    QCOMPARE(QString::number(Umask::modeOf((*finished.value)->toLocalFile()), 8), QString::number(0666 & ~mask, 8));
    QCOMPARE(QString::number(Umask::modeOf(m_folder), 8), QString::number(0777 & ~mask, 8));
}

void tst_LocalAudioRecordingService::cancelDeletesTheRecording()
{
    LocalAudioRecordingService recorder(fixedStart);
    recorder.startRecording(true);
    ToneSource tone(440);
    appendTone(recorder, tone, 2.0);
    QVERIFY(runTask(recorder.cancel()).succeeded());
    QVERIFY(recordingsIn(m_folder).isEmpty());
    const auto idleFinish = runTask(recorder.finishRecording());
    QVERIFY(idleFinish.succeeded() && !*idleFinish.value);
}

// The application quits right after asking for the file: the recorder goes away while
// audio and the finish are still queued. Everything queued is written, the file completed
// and its location handed back.
void tst_LocalAudioRecordingService::recorderDestroyedWhileFinishingCompletesTheFile()
{
    auto recorder = std::make_unique<LocalAudioRecordingService>(fixedStart);
    recorder->startRecording(true);
    ToneSource tone(440);
    appendTone(*recorder, tone, 60.0);
    QCoro::Task<std::optional<QUrl>> finishing = recorder->finishRecording();
    recorder.reset();
    const auto finished = runTask(std::move(finishing));
    QVERIFY2(finished.succeeded(), qPrintable(finished.errorText()));
    const std::optional<QUrl> url = *finished.value;
    QVERIFY(url);
    const TestAudio::ReadBack readBack = TestAudio::readBack(url->toLocalFile());
    QVERIFY(readBack.opened);
    QVERIFY(!readBack.decodeError);
    const double written = 938 * 1024 / 16000.0;
    const double decoded = double(readBack.decodedSamples) / 16000.0;
    QVERIFY2(std::abs(decoded - written) <= 0.05 * written, qPrintable(QString::number(decoded)));
}

void tst_LocalAudioRecordingService::unusableDownloadsFolderIsReported()
{
    // Downloads is a file, so no folder can be made inside it.
    QTemporaryDir other;
    const QString config = other.filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(config));
    QFile blocker(other.filePath(QStringLiteral("Downloads")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QFile userDirs(config + QStringLiteral("/user-dirs.dirs"));
    QVERIFY(userDirs.open(QIODevice::WriteOnly));
    userDirs.write("XDG_DOWNLOAD_DIR=\"" + blocker.fileName().toUtf8() + "\"\n");
    userDirs.close();
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.toUtf8());

    LocalAudioRecordingService recorder(fixedStart);
    bool thrown = false;
    try {
        recorder.startRecording(true);
    } catch (const SystemAudioCaptureError &error) {
        thrown = true;
        QCOMPARE(error.errorCase(), SystemAudioCaptureError::Case::failedToPrepareOutputDirectory);
        const QString prefix = QStringLiteral("The app could not create the output folder for saved audio recordings: ");
        QVERIFY(error.message().startsWith(prefix));
        QVERIFY(error.message().size() > prefix.size());
    }
    qputenv("XDG_CONFIG_HOME", previous);
    QVERIFY(thrown);
    // The recorder stays idle.
    const auto idleFinish = runTask(recorder.finishRecording());
    QVERIFY(idleFinish.succeeded() && !*idleFinish.value);
}

// A disk that refuses more data (here: a file size limit, which fails a write as a full disk
// does) ends the recording: the owner hears of it at once, with why; the file keeps what was
// wholly written before and plays up to there, or goes when that is no audio at all; later
// audio is ignored, and the finish reports the failure and where the file is.
void tst_LocalAudioRecordingService::writeFailureKeepsWhatWasWrittenAndTellsAtOnce_data()
{
    QTest::addColumn<int>("limitBytes");
    QTest::addColumn<double>("keptSeconds"); // about; 0 when nothing is kept
    // A second of this speech-like audio is about 12 KB of file.
    QTest::newRow("fills up after three seconds") << 40 * 1024 << 3.0;
    QTest::newRow("fills up within the first second") << 8 * 1024 << 0.0;
}

void tst_LocalAudioRecordingService::writeFailureKeepsWhatWasWrittenAndTellsAtOnce()
{
    QFETCH(int, limitBytes);
    QFETCH(double, keptSeconds);
    LocalAudioRecordingService recorder(fixedStart);
    QSignalSpy stopped(&recorder, &LocalAudioRecordingService::recordingStopped);
    std::optional<SystemAudioCaptureError> failure;
    const std::vector<qint16> speech = speechLike(10 * 16000);
    {
        const FileSizeLimit limit{rlim_t(limitBytes)};
        recorder.startRecording(true);
        for (std::size_t at = 0; at < speech.size(); at += 1024) {
            const auto end = speech.begin() + qsizetype(std::min(at + 1024, speech.size()));
            QVERIFY(runTask(recorder.appendMixedAudio(TestAudio::chunkOf({speech.begin() + qsizetype(at), end}))).succeeded());
        }
        // Told before the recording is finished.
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 20000);
        QCOMPARE(stopped.at(0).at(0).toString(), QStringLiteral("The file has grown larger than the system allows."));
        ToneSource tone(440);
        appendTone(recorder, tone, 2.0);
        failure = runTask(recorder.finishRecording()).errorAs<SystemAudioCaptureError>();
    }
    QVERIFY2(failure, "the write failure was not reported");
    QCOMPARE(failure->errorCase(), SystemAudioCaptureError::Case::failedToWriteAudioFile);
    QCOMPARE(failure->status(), qint32(-EFBIG));
    // The stop tells the reason in words, as the notice at the failure did.
    QVERIFY(failure->message().startsWith(
        QStringLiteral("The app could not write the M4A file: The file has grown larger than the system allows.")));
    QCOMPARE(stopped.count(), 1);

    if (keptSeconds == 0) {
        QVERIFY(recordingsIn(m_folder).isEmpty());
        QVERIFY(failure->keptFile().isEmpty());
    } else {
        QCOMPARE(recordingsIn(m_folder), QStringList{QStringLiteral("CapturedAudio-2026-03-03_14-05-09.m4a")});
        const QString kept = QDir(m_folder).filePath(recordingsIn(m_folder).front());
        QCOMPARE(failure->keptFile(), kept);
        QVERIFY(failure->message().endsWith(QStringLiteral(" The recording up to that moment is kept: ") + kept));
        const TestAudio::ReadBack readBack = TestAudio::readBack(kept);
        QVERIFY(readBack.opened);
        QVERIFY(!readBack.decodeError);
        const double seconds = double(readBack.decodedSamples) / 16000.0;
        QVERIFY2(std::abs(seconds - keptSeconds) <= 1.0, qPrintable(QString::number(seconds)));
        // It is the audio of the start of the recording.
        const std::vector<qint16> before(speech.begin(), speech.begin() + qsizetype(readBack.decodedSamples));
        QVERIFY2(signalToError(before, readBack.samples) > 20, qPrintable(QString::number(signalToError(before, readBack.samples))));
    }
    // The failure belonged to that recording only.
    const auto idleFinish = runTask(recorder.finishRecording());
    QVERIFY(idleFinish.succeeded() && !*idleFinish.value);
}

// A recorder killed in the middle of writing leaves a file that plays up to about its last
// second.
void tst_LocalAudioRecordingService::killedRecorderLeavesAPlayableFile()
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(childModeArgument)});
    QVERIFY(child.waitForStarted());
    QVERIFY(child.waitForReadyRead(20000));

    QString path;
    qint64 decodedBeforeKill = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QStringList files = recordingsIn(m_folder);
            if (files.isEmpty())
                return false;
            path = QDir(m_folder).filePath(files.front());
            decodedBeforeKill = TestAudio::readBack(path).decodedSamples;
            return decodedBeforeKill >= 3 * 16000;
        }(),
        30000);
    QCOMPARE(child.state(), QProcess::Running);
    child.kill();
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const TestAudio::ReadBack readBack = TestAudio::readBack(path);
    QVERIFY(readBack.opened);
    QCOMPARE(readBack.codecName, QStringLiteral("aac"));
    QCOMPARE(readBack.sampleRate, 16000);
    QCOMPARE(readBack.channels, 1);
    QVERIFY2(readBack.decodedSamples >= decodedBeforeKill,
             qPrintable(QStringLiteral("%1 < %2").arg(readBack.decodedSamples).arg(decodedBeforeKill)));
    QVERIFY(dominantShare(readBack, 440) > 0.9);
}

// Audio arrives far faster than the disk takes it: past the bound of queued audio the
// recording is given up (appending goes on without a failure, as the transcript must), the
// owner hears of it at once and at the finish without waiting for the disk, and what was
// written stays, playable.
void tst_LocalAudioRecordingService::aDiskThatFallsBehindEndsTheRecording()
{
    LocalAudioRecordingService recorder(fixedStart);
    QSignalSpy stopped(&recorder, &LocalAudioRecordingService::recordingStopped);
    recorder.setMaximumQueuedAudio(std::chrono::seconds(3));
    recorder.startRecording(true);
    ToneSource tone(440);
    // A minute of audio queued in far less time than the worker needs to encode it.
    for (int i = 0; i < 60; ++i)
        QVERIFY(runTask(recorder.appendMixedAudio(tone.next(16000))).succeeded());
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(stopped.at(0).at(0).toString(), QStringLiteral("The disk did not keep up with the recording."));
    const auto finished = runTask(recorder.finishRecording());
    const auto error = finished.errorAs<SystemAudioCaptureError>();
    QVERIFY2(error, "the recording grew without bound");
    QCOMPARE(error->errorCase(), SystemAudioCaptureError::Case::failedToWriteAudioFile);
    QVERIFY(error->message().startsWith(
        QStringLiteral("The app could not write the M4A file: The disk did not keep up with the recording.")));

    // The next recording is written as usual, once the worker is through with the first.
    recorder.startRecording(true);
    appendTone(recorder, tone, 1.0);
    const auto next = runTask(recorder.finishRecording());
    QVERIFY2(next.succeeded(), qPrintable(next.errorText()));
    QVERIFY(next.value && *next.value);
    QVERIFY(QFileInfo::exists(next.value->value().toLocalFile()));
    for (const QString &name : recordingsIn(m_folder)) {
        const TestAudio::ReadBack readBack = TestAudio::readBack(QDir(m_folder).filePath(name));
        QVERIFY2(readBack.opened && !readBack.decodeError && readBack.decodedSamples > 0, qPrintable(name));
    }
}

// Audio fed faster than real time (as a benchmark feeds it) is kept whole once the bound of
// queued audio is raised above what is fed, though the same burst ends a recording under the
// three-second bound of the test above.
void tst_LocalAudioRecordingService::aRaisedBacklogBoundKeepsAFastBurst()
{
    LocalAudioRecordingService recorder(fixedStart);
    recorder.setMaximumQueuedAudio(std::chrono::minutes(3));
    recorder.startRecording(true);
    ToneSource tone(440);
    for (int i = 0; i < 120; ++i)
        QVERIFY(runTask(recorder.appendMixedAudio(tone.next(16000))).succeeded());
    const auto finished = runTask(recorder.finishRecording());
    QVERIFY2(finished.succeeded(), qPrintable(finished.errorText()));
    QVERIFY(finished.value && *finished.value);
    const TestAudio::ReadBack readBack = TestAudio::readBack(finished.value->value().toLocalFile());
    const double decoded = double(readBack.decodedSamples) / 16000.0;
    QVERIFY2(decoded >= 119.9 && decoded <= 120.2, qPrintable(QString::number(decoded)));
}

// A process that stood still for two hours hands the mixer's timeline over at once: two hours of
// silence arrive in a moment. They are recorded whole, the audio after them in its place, and
// they wait for the disk as a length, not as bytes: what waits is never more than the sound
// before them, and the recording is not given up for a disk too slow.
void tst_LocalAudioRecordingService::hoursOfSilenceAtOnceAreRecordedInLittleMemory()
{
    LocalAudioRecordingService recorder(fixedStart);
    QSignalSpy stopped(&recorder, &LocalAudioRecordingService::recordingStopped);
    recorder.startRecording(true);
    ToneSource tone(440);
    appendTone(recorder, tone, 1.0);
    const qint64 soundBytes = 16 * 1024 * 2;
    const qint64 gapChunks = 2 * 3600 * 16000 / 1024;
    const QByteArray silence(1024 * 2, '\0');
    qint64 mostQueued = recorder.queuedBytes();
    for (qint64 i = 0; i < gapChunks; ++i) {
        recorder.appendMixedAudio(silence);
        mostQueued = std::max(mostQueued, recorder.queuedBytes());
    }
    QVERIFY2(mostQueued <= soundBytes, qPrintable(QString::number(mostQueued)));
    appendTone(recorder, tone, 1.0);
    const auto finished = runTask(recorder.finishRecording());
    QVERIFY2(finished.succeeded(), qPrintable(finished.errorText()));
    QCOMPARE(stopped.count(), 0);
    QVERIFY(finished.value && *finished.value);

    // Read for its length; the samples kept from a second before the gap's end.
    const qint64 afterGap = (16 + gapChunks) * 1024;
    const TestAudio::ReadBack readBack = TestAudio::readBack(finished.value->value().toLocalFile(), afterGap - 16000);
    QVERIFY(readBack.opened && !readBack.decodeError);
    // The coder adds its priming and pads the last frame.
    const qint64 written = afterGap + 16 * 1024;
    QVERIFY2(readBack.decodedSamples >= written && readBack.decodedSamples <= written + 2048,
             qPrintable(QStringLiteral("%1 of %2").arg(readBack.decodedSamples).arg(written)));
    const std::vector<qint16> kept = TestAudio::samplesOf(readBack.samples);
    const qint64 onset = TestAudio::toneOnset(kept, 16000, 440);
    QVERIFY2(onset >= 16000 - 800 && onset <= 16000 + 1600 + 800, qPrintable(QString::number(onset)));
    QVERIFY(TestAudio::rms(kept, 0, 16000 - 2048) < 0.0001);
    QFile::remove(finished.value->value().toLocalFile());
}

// Silence handed to the writer as a length comes out as the same samples as silence handed to
// it as bytes, wherever it starts and ends within the coder's frames.
void tst_LocalAudioRecordingService::silenceWrittenAsItsLengthDecodesAsZeroSamples()
{
    ToneSource tone(440);
    const QByteArray before = tone.next(16000 + 300);
    const QByteArray after = tone.next(11111);
    const qint64 silentSamples = 20000 + 517;
    const auto write = [&](const QString &name, bool asLength) {
        M4AAudioFileWriter writer(QDir(m_home.path()).filePath(name));
        writer.append(before);
        if (asLength) {
            for (qint64 part : {qint64(1), qint64(700), silentSamples - 701})
                writer.appendSilence(part);
        } else {
            writer.append(QByteArray(qsizetype(silentSamples * 2), '\0'));
        }
        writer.append(after);
        const QString path = writer.outputPath();
        writer.close();
        const TestAudio::ReadBack readBack = TestAudio::readBack(path);
        QFile::remove(path);
        return readBack;
    };
    const TestAudio::ReadBack asBytes = write(QStringLiteral("bytes.m4a"), false);
    const TestAudio::ReadBack asLength = write(QStringLiteral("length.m4a"), true);
    QVERIFY(asBytes.opened && asLength.opened && !asLength.decodeError);
    QVERIFY(asBytes.decodedSamples >= 16300 + silentSamples + 11111);
    QCOMPARE(asLength.decodedSamples, asBytes.decodedSamples);
    QVERIFY(asLength.samples == asBytes.samples);

    // Silence alone makes a file, as any audio does.
    M4AAudioFileWriter silentOnly(QDir(m_home.path()).filePath(QStringLiteral("silent.m4a")));
    silentOnly.appendSilence(0);
    QVERIFY(!silentOnly.hasFile());
    silentOnly.appendSilence(16000);
    QVERIFY(silentOnly.hasFile());
    silentOnly.discard();
}

void tst_LocalAudioRecordingService::chunkSizesDoNotChangeTheRecording_data()
{
    QTest::addColumn<QList<int>>("chunkSamples"); // taken in turn, over and over
    QTest::newRow("one sample at a time") << QList<int>{1};
    QTest::newRow("a frame and one more") << QList<int>{1025};
    QTest::newRow("one short of a frame") << QList<int>{1023};
    QTest::newRow("capture fragments") << QList<int>{160, 160, 161};
    QTest::newRow("uneven, across several frames") << QList<int>{333, 4097, 7, 2048};
    QTest::newRow("all at once") << QList<int>{48000};
}

// Whatever sizes the chunks come in, the encoder is handed the same frames: each file
// decodes to the same samples as the one written in frame-sized chunks, the short last frame
// included.
void tst_LocalAudioRecordingService::chunkSizesDoNotChangeTheRecording()
{
    QFETCH(QList<int>, chunkSamples);
    constexpr int total = 48000 + 517; // three seconds and a part of a frame
    ToneSource tone(440);
    const QByteArray audio = tone.next(total);
    const auto write = [&](const QString &name, const QList<int> &sizes) {
        M4AAudioFileWriter writer(QDir(m_home.path()).filePath(name));
        qsizetype at = 0;
        for (int turn = 0; at < audio.size(); ++turn) {
            const qsizetype bytes = std::min<qsizetype>(2 * sizes.at(turn % sizes.size()), audio.size() - at);
            writer.append(audio.mid(at, bytes));
            at += bytes;
        }
        const QString path = writer.outputPath();
        writer.close();
        return TestAudio::readBack(path);
    };
    const TestAudio::ReadBack reference = write(QStringLiteral("reference.m4a"), {1024});
    const TestAudio::ReadBack chunked = write(QStringLiteral("chunked.m4a"), chunkSamples);
    QVERIFY(reference.opened && chunked.opened);
    QVERIFY(!chunked.decodeError);
    // The decoder also gives back the encoder's priming and the last frame's padding.
    QVERIFY2(reference.decodedSamples >= total && reference.decodedSamples <= total + 2048,
             qPrintable(QString::number(reference.decodedSamples)));
    QCOMPARE(chunked.decodedSamples, reference.decodedSamples);
    QVERIFY(chunked.samples == reference.samples);
    QFile::remove(QDir(m_home.path()).filePath(QStringLiteral("reference.m4a")));
    QFile::remove(QDir(m_home.path()).filePath(QStringLiteral("chunked.m4a")));
}

// The recording is meant to be listened to again: speech comes back close to what was heard,
// not merely as sound of the right length. (47 dB here; a recording coded at a third of the
// bit rate reads 38.)
void tst_LocalAudioRecordingService::recordingIsCloseToWhatWasHeard()
{
    const std::vector<qint16> speech = speechLike(3 * 16000);
    const QString name = QDir(m_home.path()).filePath(QStringLiteral("speech.m4a"));
    QString path;
    {
        M4AAudioFileWriter writer(name);
        const QByteArray audio = TestAudio::chunkOf(speech);
        for (qsizetype at = 0; at < audio.size(); at += 2048)
            writer.append(audio.mid(at, 2048));
        path = writer.outputPath();
        writer.close();
    }
    const TestAudio::ReadBack readBack = TestAudio::readBack(path);
    QVERIFY(readBack.opened && !readBack.decodeError);
    const double decibels = signalToError(speech, readBack.samples);
    QVERIFY2(decibels >= 42, qPrintable(QString::number(decibels)));
    QFile::remove(path);
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc >= 2 && qstrcmp(argv[1], childModeArgument) == 0)
        return recordUntilKilled();
    tst_LocalAudioRecordingService test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_LocalAudioRecordingService.moc"

// Every error text the program writes itself reads in Russian on a Russian screen, including
// the ones that wrap another error. The errors are the real ones, every case of each; what a
// server says stands in them as Cyrillic text, so any Latin word left over is ours.

#include "accounts/AuthServiceError.h"
#include "accounts/KavrelBackendProxyError.h"
#include "audio/AudioStatusError.h"
#include "audio/MicrophoneCaptureError.h"
#include "audio/SystemAudioCaptureError.h"
#include "base/Json.h"
#include "base/KavrelError.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/NetworkError.h"
#include "platform/UserDefaults.h"
#include "platform/WebSocketError.h"
#include "platform/WebSocketOpenError.h"
#include "services/DeepSeekAnswerAssistError.h"
#include "services/DeepSeekMeetingProtocolError.h"
#include "services/DeepSeekSummaryError.h"
#include "services/KavrelBillingServiceError.h"
#include "services/KavrelUpdaterError.h"
#include "speech/DeepSeekTranslationError.h"
#include "speech/DeepgramLiveTranscriptionError.h"
#include "speech/DeepgramWebSocketOpenError.h"
#include "speech/TranslationV2WebSocketOpenError.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

const QString serverWords = QStringLiteral("сервер ответил отказом");

template <typename Error>
std::exception_ptr pointer(Error error)
{
    return std::make_exception_ptr(std::move(error));
}

// What may stay Latin in a Russian error line: names and abbreviations a Russian text uses as
// they are.
QString withoutNames(QString text)
{
    static const QRegularExpression names(
        QStringLiteral("\\b(?:WebSocket|HTTP|OAuth|ID|M4A|PCM|AI|GraphQL|Google|Microsoft|Apple)\\b"));
    return text.remove(QStringLiteral("КАВРЕЛ")).remove(names);
}

} // namespace

class tst_ProgramErrorsInRussian : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsInRussian_data();
    void readsInRussian();
};

void tst_ProgramErrorsInRussian::readsInRussian_data()
{
    QTest::addColumn<QString>("message");
    const auto row = [](const QString &tag, const KavrelError &error) {
        QTest::newRow(qPrintable(tag)) << error.message();
    };

    row(QStringLiteral("cancelled"), CancellationError());
    // Where in the data is the data's own name (the path), and it stays as it is.
    for (const char *reason : {"missing key", "null value for a required key", "expected an object", "expected an array",
                               "expected a string", "expected an integer", "expected a number", "expected a boolean",
                               "is empty", "Expiry out of range."})
        row(QStringLiteral("json ") + QLatin1String(reason), JsonDecodeError(QString(), QString::fromLatin1(reason)));
    row(QStringLiteral("json invalid date"), JsonDecodeError(QString(), QStringLiteral("invalid date \"%1\"").arg(serverWords)));
    for (int kind = 0; kind <= int(NetworkError::Kind::other); ++kind) {
        row(QStringLiteral("network %1").arg(kind), NetworkError(NetworkError::Kind(kind), QNetworkReply::UnknownNetworkError, QString()));
        row(QStringLiteral("network %1 detail").arg(kind),
            NetworkError(NetworkError::Kind(kind), QNetworkReply::UnknownNetworkError, serverWords));
    }
    row(QStringLiteral("websocket connect"), WebSocketError::cannotConnect(serverWords));
    row(QStringLiteral("websocket rejected"), WebSocketError::upgradeRejected(403, serverWords));
    row(QStringLiteral("websocket rejected without status"), WebSocketError::upgradeRejected(0, serverWords));
    row(QStringLiteral("websocket handshake"), WebSocketError::handshakeFailed(serverWords));
    row(QStringLiteral("websocket lost"), WebSocketError::connectionLost());
    row(QStringLiteral("websocket closed"), WebSocketError::closed(1011, QString()));
    row(QStringLiteral("websocket closed with reason"), WebSocketError::closed(1011, serverWords));
    row(QStringLiteral("websocket not connected"), WebSocketError::notConnected());
    row(QStringLiteral("websocket too large"), WebSocketError::messageTooLarge(1048576));
    row(QStringLiteral("websocket other"), WebSocketError::other(serverWords));
    row(QStringLiteral("websocket other bare"), WebSocketError::other(QString()));
    row(QStringLiteral("open closed"), WebSocketOpenError::closed(1008, std::nullopt));
    row(QStringLiteral("open closed with reason"), WebSocketOpenError::closed(1008, serverWords));
    row(QStringLiteral("open transport"), WebSocketOpenError::transport(WebSocketError::connectionLost()));
    row(QStringLiteral("open timed out"), WebSocketOpenError::timedOut());

    for (int c = 0; c <= int(AuthServiceError::Case::userCancelled); ++c) {
        const auto errorCase = AuthServiceError::Case(c);
        // The server's own refusal is shown as it comes.
        const bool serversWords = errorCase == AuthServiceError::Case::callbackReturnedError
                                  || errorCase == AuthServiceError::Case::requestFailed;
        row(QStringLiteral("auth %1").arg(c), AuthServiceError(errorCase, serversWords ? serverWords : QStringLiteral("сервер.рф")));
    }
    for (int c = 0; c <= int(KavrelBackendProxyError::Case::invalidResponse); ++c)
        row(QStringLiteral("proxy %1").arg(c), KavrelBackendProxyError(KavrelBackendProxyError::Case(c), serverWords));
    for (int c = 0; c <= int(KavrelBillingServiceError::Case::invalidResponse); ++c)
        row(QStringLiteral("billing %1").arg(c), KavrelBillingServiceError(KavrelBillingServiceError::Case(c), serverWords));

    for (int c = 0; c <= int(KavrelUpdaterError::Case::unreadableVersion); ++c)
        row(QStringLiteral("updater %1").arg(c), KavrelUpdaterError(KavrelUpdaterError::Case(c), 503));

    const std::exception_ptr offline = pointer(NetworkError(NetworkError::Kind::cannotConnect, QNetworkReply::ConnectionRefusedError, QString()));
    row(QStringLiteral("summary failed"), DeepSeekSummaryError::requestFailed(offline));
    row(QStringLiteral("summary empty"), DeepSeekSummaryError::invalidResponse());
    row(QStringLiteral("summary cut"), DeepSeekSummaryError::incompleteResponse());
    row(QStringLiteral("protocol failed"), DeepSeekMeetingProtocolError::requestFailed(offline));
    row(QStringLiteral("protocol empty"), DeepSeekMeetingProtocolError::invalidResponse());
    row(QStringLiteral("protocol cut"), DeepSeekMeetingProtocolError::incompleteResponse());
    row(QStringLiteral("answer failed"), DeepSeekAnswerAssistError::requestFailed(pointer(KavrelBackendProxyError::authenticationRequired())));
    row(QStringLiteral("answer empty"), DeepSeekAnswerAssistError::invalidResponse());

    row(QStringLiteral("audio status"), AudioStatusError(QStringLiteral("The app could not switch to the selected microphone."), -3));
    for (int c = 0; c <= int(MicrophoneCaptureError::Case::audioServerUnavailable); ++c)
        row(QStringLiteral("microphone %1").arg(c), MicrophoneCaptureError(MicrophoneCaptureError::Case(c), serverWords));
    for (int c = 0; c <= int(SystemAudioCaptureError::Case::unsupportedAudioFormat); ++c) {
        const auto errorCase = SystemAudioCaptureError::Case(c);
        if (errorCase == SystemAudioCaptureError::Case::failedToPrepareOutputDirectory)
            row(QStringLiteral("system audio %1").arg(c), SystemAudioCaptureError(errorCase, serverWords));
        else
            row(QStringLiteral("system audio %1").arg(c), SystemAudioCaptureError(errorCase, qint32(-50)));
    }
    // A recording stopped by the disk: the notice at once, with the reason the system gives or
    // the error itself, and the stop's message naming the file kept (a path of Cyrillic words).
    for (const qint32 status : {-ENOSPC, -EDQUOT, -EFBIG, -EROFS, -EIO, -ETIMEDOUT, qint32(-50)}) {
        const SystemAudioCaptureError failure = SystemAudioCaptureError::failedToWriteAudioFile(status);
        QTest::newRow(qPrintable(QStringLiteral("recording stopped %1").arg(status))) << QStringLiteral("Recording stopped: ") + failure.reason();
    }
    row(QStringLiteral("recording kept"),
        SystemAudioCaptureError::failedToWriteAudioFile(-ENOSPC).withKeptFile(QStringLiteral("/дом/Загрузки/КАВРЕЛ/запись.m4a")));

    row(QStringLiteral("translation failed"), DeepSeekTranslationError::requestFailed(offline));
    row(QStringLiteral("translation server"), DeepSeekTranslationError::serverError(serverWords));
    row(QStringLiteral("translation sign in"), DeepSeekTranslationError::authenticationRequired());
    row(QStringLiteral("translation request"), DeepSeekTranslationError::invalidRequest());
    row(QStringLiteral("translation empty"), DeepSeekTranslationError::invalidResponse());
    row(QStringLiteral("translation connected"), DeepSeekTranslationError::alreadyConnected());
    row(QStringLiteral("translation timed out"), DeepSeekTranslationError::timedOut());
    row(QStringLiteral("translation lost"), DeepSeekTranslationError::connectionLost());
    row(QStringLiteral("transcription connect"), DeepgramLiveTranscriptionError::connectionFailed(NetworkError(NetworkError::Kind::timedOut, QNetworkReply::TimeoutError, QString()).message()));
    row(QStringLiteral("transcription send"), DeepgramLiveTranscriptionError::sendFailed(pointer(WebSocketError::notConnected())));
    row(QStringLiteral("transcription receive"), DeepgramLiveTranscriptionError::receiveFailed(pointer(WebSocketError::closed(1011, serverWords))));
    row(QStringLiteral("transcription server"), DeepgramLiveTranscriptionError::serverError(serverWords));
    row(QStringLiteral("transcription sign in"), DeepgramLiveTranscriptionError::authenticationRequired());
    row(QStringLiteral("transcription request"), DeepgramLiveTranscriptionError::invalidRequest());
    row(QStringLiteral("transcription connected"), DeepgramLiveTranscriptionError::alreadyConnected());
    row(QStringLiteral("transcription open closed"), DeepgramWebSocketOpenError::closed(4001, std::nullopt));
    row(QStringLiteral("transcription open closed with reason"), DeepgramWebSocketOpenError::closed(4001, serverWords));
    row(QStringLiteral("transcription open transport"), DeepgramWebSocketOpenError::transport(offline));
    row(QStringLiteral("transcription open timed out"), DeepgramWebSocketOpenError::timedOut());
    row(QStringLiteral("v2 open closed"), TranslationV2WebSocketOpenError::closed(4002, std::nullopt));
    row(QStringLiteral("v2 open closed with reason"), TranslationV2WebSocketOpenError::closed(4002, serverWords));
    row(QStringLiteral("v2 open transport"), TranslationV2WebSocketOpenError::transport(offline));
    row(QStringLiteral("v2 open timed out"), TranslationV2WebSocketOpenError::timedOut());
}

void tst_ProgramErrorsInRussian::readsInRussian()
{
    QFETCH(QString, message);
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore store(defaults);
    const QString shown = store.localizedMessage(message);
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]{2,}"));
    const QRegularExpressionMatch left = latin.match(withoutNames(shown));
    QVERIFY2(!left.hasMatch(), qPrintable(QStringLiteral("“%1” reads “%2”").arg(message, shown)));
}

QTEST_GUILESS_MAIN(tst_ProgramErrorsInRussian)
#include "tst_ProgramErrorsInRussian.moc"

#pragma once

#include "base/Cancellation.h"
#include "services/DeepSeekMeetingProtocolError.h"

#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

class KavrelBackendProxyService;

// Writes structured meeting minutes of a transcript through the backend's chat-completion
// proxy. A reply the model cut off is asked for once more with a larger token limit.
// Holds no state between calls.
class DeepSeekMeetingProtocolService final
{
public:
    static constexpr qint64 maxTokens = 2200;
    static constexpr qint64 retryMaxTokens = 3600;

    // The proxy is not owned; it must outlive the calls.
    explicit DeepSeekMeetingProtocolService(KavrelBackendProxyService *proxyService);

    // One language name stands for the transcript's and the protocol's language. Throws
    // DeepSeekMeetingProtocolError (invalidResponse at once, without a request, for a blank
    // transcript), the proxy's and the network's errors only from the second attempt, and
    // CancellationError.
    QCoro::Task<QString> generateProtocol(QString transcript, QString languageName,
                                          CancellationToken token = CancellationToken());

private:
    static QCoro::Task<QString> requestProtocol(QPointer<KavrelBackendProxyService> proxyService, QString transcript,
                                                QString languageName, qint64 maxTokens, CancellationToken token);

    QPointer<KavrelBackendProxyService> m_proxyService;
};

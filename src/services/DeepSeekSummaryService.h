#pragma once

#include "base/Cancellation.h"
#include "services/DeepSeekSummaryError.h"

#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

class KavrelBackendProxyService;

// Writes a bullet-point summary of a transcript through the backend's chat-completion
// proxy. A reply the model cut off is asked for once more with a larger token limit.
// Holds no state between calls.
class DeepSeekSummaryService final
{
public:
    static constexpr qint64 maxTokens = 640;
    static constexpr qint64 retryMaxTokens = 1100;

    // The proxy is not owned; it must outlive the calls.
    explicit DeepSeekSummaryService(KavrelBackendProxyService *proxyService);

    // Language names are English words ("Russian") and go into the prompt as given. Throws
    // DeepSeekSummaryError (invalidResponse at once, without a request, for a blank
    // transcript), the proxy's and the network's errors only from the second attempt,
    // and CancellationError.
    QCoro::Task<QString> summarize(QString transcript, QString inputLanguageName, QString outputLanguageName,
                                   CancellationToken token = CancellationToken());

private:
    static QCoro::Task<QString> requestSummary(QPointer<KavrelBackendProxyService> proxyService, QString transcript,
                                               QString inputLanguageName, QString outputLanguageName, qint64 maxTokens,
                                               CancellationToken token);

    QPointer<KavrelBackendProxyService> m_proxyService;
};

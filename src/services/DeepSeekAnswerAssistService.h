#pragma once

#include "base/Cancellation.h"
#include "services/DeepSeekAnswerAssistError.h"

#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

class KavrelBackendProxyService;

// Drafts a short spoken answer to the latest question another participant asked, through
// the backend's chat-completion proxy. One request per call; a reply the model cut off is
// returned as it is. Holds no state between calls.
class DeepSeekAnswerAssistService final
{
public:
    static constexpr qint64 maxTokens = 420;

    // The proxy is not owned; it must outlive the calls.
    explicit DeepSeekAnswerAssistService(KavrelBackendProxyService *proxyService);

    // Language names are English words ("Russian") and go into the prompt as given. Throws
    // DeepSeekAnswerAssistError (invalidResponse at once, without a request, for a blank
    // transcript) and CancellationError.
    QCoro::Task<QString> suggestAnswer(QString transcript, QString inputLanguageName, QString outputLanguageName,
                                       CancellationToken token = CancellationToken());

private:
    QPointer<KavrelBackendProxyService> m_proxyService;
};

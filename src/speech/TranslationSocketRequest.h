#pragma once

#include "accounts/KavrelBackendProxyService.h"

#include <QNetworkRequest>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

// The authenticated request of a translation relay socket at path. The proxy's failures
// become the DeepSeekTranslationError that both translation clients report:
// authenticationRequired, invalidRequest, or serverError with the proxy's text.
QCoro::Task<QNetworkRequest> makeTranslationSocketRequest(QPointer<KavrelBackendProxyService> proxy, QString path);

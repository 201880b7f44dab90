#include "accounts/AuthorizedRequest.h"

namespace AuthorizedRequest {

void authorize(QNetworkRequest &request, const QString &accessToken)
{
    request.setRawHeader("Authorization", "Bearer " + accessToken.toUtf8());
}

QNetworkRequest json(const QUrl &url, const QString &accessToken)
{
    QNetworkRequest request(url);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");
    authorize(request, accessToken);
    return request;
}

} // namespace AuthorizedRequest

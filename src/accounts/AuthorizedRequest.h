#pragma once

#include <QNetworkRequest>
#include <QString>
#include <QUrl>

// The preamble every signed-in call to the backend shares: the session's access token as a
// bearer token, and JSON both ways for the HTTP calls.
namespace AuthorizedRequest {

void authorize(QNetworkRequest &request, const QString &accessToken);

QNetworkRequest json(const QUrl &url, const QString &accessToken);

} // namespace AuthorizedRequest

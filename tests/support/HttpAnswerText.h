#pragma once

// HTTP answers as servers send them, for tests of the client that reads them.

#include <QByteArray>

namespace HttpAnswerText {

// A 200 answer with this body (its Content-Length given) whose head, closing empty line
// included, is exactly headSize bytes: filler fields make up the size.
QByteArray withHeadOfSize(qsizetype headSize, const QByteArray &body);

} // namespace HttpAnswerText

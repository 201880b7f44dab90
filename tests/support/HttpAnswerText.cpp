#include "support/HttpAnswerText.h"

namespace HttpAnswerText {

QByteArray withHeadOfSize(qsizetype headSize, const QByteArray &body)
{
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    const QByteArray end = "\r\n";
    // Fields of up to 100 bytes, like the cookies and policies a gateway adds.
    for (int field = 0; head.size() + end.size() < headSize; ++field) {
        const QByteArray name = "X-Filler-" + QByteArray::number(field) + ": ";
        const qsizetype room = headSize - end.size() - head.size() - name.size() - 2;
        if (room < 1) {
            // Too little room for another field: widen the one before.
            head.insert(head.size() - 2, QByteArray(headSize - end.size() - head.size(), 'y'));
            break;
        }
        head += name + QByteArray(std::min<qsizetype>(room, 100), 'x') + "\r\n";
    }
    return head + end + body;
}

} // namespace HttpAnswerText

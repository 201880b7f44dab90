#include "speech/V2Timing.h"

V2Timing V2Timing::fromJson(const JsonReader &reader)
{
    V2Timing message;
    message.queueMs = reader.integer(QStringLiteral("queueMs"));
    message.providerFirstTokenMs = reader.integer(QStringLiteral("providerFirstTokenMs"));
    message.providerTotalMs = reader.integer(QStringLiteral("providerTotalMs"));
    message.totalMs = reader.integer(QStringLiteral("totalMs"));
    return message;
}

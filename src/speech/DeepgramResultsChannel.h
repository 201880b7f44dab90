#pragma once

#include "speech/DeepgramTranscriptAlternative.h"

#include <QList>

struct DeepgramResultsChannel
{
    // May be empty.
    QList<DeepgramTranscriptAlternative> alternatives;
};

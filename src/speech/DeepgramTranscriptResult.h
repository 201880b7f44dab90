#pragma once

#include <QString>

// One transcript handed to the session engine.
struct DeepgramTranscriptResult
{
    // Never empty; trimmed of white space and line breaks at both ends.
    QString transcript;
    // The service's end-of-utterance flag; the engine closes the open dialogue turn on it.
    bool speechFinal = false;
};

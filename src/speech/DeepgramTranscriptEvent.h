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

// A speech-to-text result: interim (may still change; shown as the live preview) or final
// (will not change; appended to the open dialogue turn).
class DeepgramTranscriptEvent
{
public:
    enum class Kind {
        interim,
        final,
    };

    static DeepgramTranscriptEvent interim(DeepgramTranscriptResult result)
    {
        return DeepgramTranscriptEvent(Kind::interim, std::move(result));
    }
    static DeepgramTranscriptEvent final(DeepgramTranscriptResult result)
    {
        return DeepgramTranscriptEvent(Kind::final, std::move(result));
    }

    Kind kind() const { return m_kind; }
    bool isFinal() const { return m_kind == Kind::final; }
    const DeepgramTranscriptResult &result() const { return m_result; }

private:
    DeepgramTranscriptEvent(Kind kind, DeepgramTranscriptResult result)
        : m_kind(kind), m_result(std::move(result)) {}

    Kind m_kind;
    DeepgramTranscriptResult m_result;
};

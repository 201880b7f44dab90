#pragma once

#include "session/SessionDraft.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Encodes the drafts of one session one after another, giving the very bytes
// SessionDraft::toJson() gives, at a cost in proportion to what changed since the last one.
//
// A session of two thousand turns re-encoded in full for every change costs tens of
// milliseconds a change, while a change touches the open turn at the end and the tail of the two
// rendered texts. So the JSON of each closed turn is made once and kept while the turn stays as
// it was, and each rendered text is kept encoded in blocks: blocks whose text is unchanged are
// reused, the encoding starts again at the first block that differs.
//
// Not thread-safe: one thread at a time.
class SessionDraftEncoder final
{
public:
    static constexpr qsizetype defaultBlockLength = 8192;

    // blockLength: the characters of rendered text per reusable block (tests use tiny ones).
    explicit SessionDraftEncoder(qsizetype blockLength = defaultBlockLength);

    QByteArray encode(const SessionDraft &draft);

private:
    // A turn as last encoded, and where its JSON lies in m_turnJson.
    struct KeptTurn
    {
        SessionTurn turn;
        qsizetype start = 0;
        qsizetype length = 0; // 0 while the turn is open: nothing kept
    };

    // One rendered text, kept as the JSON escapes of consecutive blocks of it.
    class EncodedText
    {
    public:
        QByteArray encode(const QString &text, qsizetype blockLength);

    private:
        struct Block
        {
            qsizetype end = 0; // one past the block's last character in the text
            quint64 hashes[2] = {};
            qsizetype encodedEnd = 0; // one past its escapes in m_escaped
        };
        std::vector<Block> m_blocks;
        QByteArray m_escaped;
    };

    qsizetype m_blockLength;
    // In the session's order, with the JSON of the closed ones one after another in m_turnJson:
    // one buffer, as a buffer per turn costs its header and its spare room thousands of times.
    std::vector<KeptTurn> m_turns;
    QByteArray m_turnJson;
    EncodedText m_subtitles;
    EncodedText m_translated;
};

#pragma once

#include "platform/SettingsJournal.h"
#include "session/SessionDraft.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// Encodes the drafts of one session one after another, giving the very bytes
// SessionDraft::toJson() gives, and the edits that turn the previous encoding into the new one,
// at a cost in proportion to what changed since the last one.
//
// A session of two thousand turns re-encoded in full for every change costs tens of
// milliseconds a change, while a change touches the open turn at the end and the tail of the two
// rendered texts. So the JSON of each turn is made once and kept while the turn stays as it was,
// and each rendered text is kept encoded in blocks: the blocks within the part a change says is
// kept are reused, the encoding starts again at the first block after it. A change that says
// nothing is kept (a whole draft) is compared with what is kept instead, turn by turn and byte by
// byte.
//
// The encoded draft is
//   {"turns":[<turn>,<turn>,…],"subtitlesText":"<escapes>","translatedText":"<escapes>"<panels>}
// and its parts are kept in that order, so the edits are at most four: from the first changed
// turn to the end of the turns, the changed end of each rendered text, and the panels (with the
// account after them).
//
// Not thread-safe: one thread at a time.
class SessionDraftEncoder final
{
public:
    static constexpr qsizetype defaultBlockLength = 1024;

    // blockLength: the characters of rendered text per reusable block (tests use tiny ones).
    explicit SessionDraftEncoder(qsizetype blockLength = defaultBlockLength);

    struct Result
    {
        // From the encoding before (of previousLength bytes) to the one now.
        SettingsJournal::Edits edits;
        qsizetype previousLength = 0;
        // What SessionDraft::fingerprint() covers changed (a text or translation of a turn, the
        // number of turns, a rendered text or a panel), or the account.
        bool judgedChanged = false;
    };
    // Takes the change into what is kept. Its turns before firstTurn and the kept beginnings of
    // its texts must be as in the change taken before.
    Result apply(const SessionDraftChange &change);
    // The encoding of the whole draft, kept or not.
    QByteArray encode(const SessionDraft &draft);

    // The draft last taken, encoded: SessionDraft::toJson() of it.
    QByteArray json() const;
    qsizetype jsonLength() const;
    // SessionDraft::fingerprint() of the draft last taken.
    QString fingerprint() const;

private:
    // A turn as last taken, and where its JSON lies in m_turnJson.
    struct KeptTurn
    {
        SessionTurn turn;
        qsizetype start = 0;
        qsizetype length = 0;
    };

    // One rendered text, kept as the JSON escapes of consecutive blocks of it.
    class EncodedText
    {
    public:
        struct Edit
        {
            qsizetype from = 0; // in the escapes
            qsizetype removed = 0;
            bool changed = false;
        };
        // Encodes the text anew from the block in which the kept beginning ends.
        Edit update(const QString &text, qsizetype kept, qsizetype blockLength);
        const QByteArray &escapes() const { return m_escaped; }

    private:
        struct Block
        {
            qsizetype end = 0; // one past the block's last character in the text
            qsizetype encodedEnd = 0; // one past its escapes in m_escaped
        };
        std::vector<Block> m_blocks;
        QByteArray m_escaped;
    };

    qsizetype turnsEnd() const;
    QByteArray encodedPanels() const;

    qsizetype m_blockLength;
    // In the session's order, their JSON with the commas between them in m_turnJson: one buffer,
    // as a buffer per turn costs its header and its spare room thousands of times.
    std::vector<KeptTurn> m_turns;
    QByteArray m_turnJson;
    EncodedText m_subtitles;
    EncodedText m_translated;
    AIPanelTexts m_panels;
    std::optional<QString> m_accountID;
    // The members after the translated text: ,"transcriptSummaryText":"…",… and the account.
    QByteArray m_panelJson;
};

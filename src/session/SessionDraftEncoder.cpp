#include "session/SessionDraftEncoder.h"

#include "base/Json.h"

#include <QHashFunctions>

#include <algorithm>

namespace {

constexpr std::size_t firstSeed = 0x6b617672656c3031ULL;
constexpr std::size_t secondSeed = 0x3f1d2c5b9e8a7d41ULL;

// The escapes of a piece of text as they stand between the quotes of its JSON string.
QByteArray escapes(QStringView text)
{
    const QByteArray quoted = JsonObjectWriter::encodedString(text.toString());
    return quoted.mid(1, quoted.size() - 2);
}

// The kept buffers live as long as the session: they grow by an eighth, not by the doubling an
// append does, which would leave up to half of them unused.
void makeRoom(QByteArray &buffer, qsizetype extra)
{
    const qsizetype needed = buffer.size() + extra;
    if (needed > buffer.capacity())
        buffer.reserve(needed + needed / 8);
}

// After a session was cleared or cut short, the room its end took is given back.
void releaseSpareRoom(QByteArray &buffer)
{
    if (buffer.capacity() > 2 * buffer.size() + 65536)
        buffer.squeeze();
}

} // namespace

SessionDraftEncoder::SessionDraftEncoder(qsizetype blockLength)
    : m_blockLength(std::max<qsizetype>(blockLength, 2))
{
}

QByteArray SessionDraftEncoder::encode(const SessionDraft &draft)
{
    const std::size_t count = draft.turns.size();
    if (m_turns.size() > count) {
        m_turnJson.truncate(m_turns[count].start);
        m_turns.resize(count);
        releaseSpareRoom(m_turnJson);
        if (m_turns.capacity() > 2 * count + 256)
            m_turns.shrink_to_fit();
    }
    if (m_turns.capacity() < count)
        m_turns.reserve(count + count / 8);

    QByteArray turns;
    turns.reserve(m_turnJson.size() + qsizetype(count) + 2);
    turns.append('[');
    // Turns changed at the end of the kept JSON are cut off and appended again in place; once
    // one before the end changed, the kept JSON is copied anew from that turn on.
    bool rebuilding = false;
    QByteArray rebuilt;
    QByteArray fresh;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            turns.append(',');
        const SessionTurn &turn = draft.turns[i];
        if (i == m_turns.size()) {
            KeptTurn added;
            added.start = m_turnJson.size();
            m_turns.push_back(std::move(added));
        }
        KeptTurn &kept = m_turns[i];
        // A turn with nothing kept sits where the one before it ends, wherever that one moved.
        if (!rebuilding && kept.length == 0)
            kept.start = i == 0 ? 0 : m_turns[i - 1].start + m_turns[i - 1].length;
        // An open turn changes with nearly every draft: it is encoded each time, not kept.
        const bool reused = turn.isClosed && kept.length > 0 && kept.turn == turn;
        QByteArrayView json;
        if (reused) {
            json = QByteArrayView(m_turnJson).sliced(kept.start, kept.length);
        } else {
            fresh = SessionDraft::encodeTurn(turn);
            json = fresh;
        }
        turns.append(json);

        const bool keptChanges = !reused && (turn.isClosed || kept.length > 0);
        if (keptChanges && !rebuilding && kept.start + kept.length < m_turnJson.size()) {
            rebuilding = true;
            rebuilt.reserve(m_turnJson.size() + json.size() + m_turnJson.size() / 8);
            rebuilt.append(QByteArrayView(m_turnJson).first(kept.start));
        }
        if (rebuilding) {
            kept.start = rebuilt.size();
            kept.length = turn.isClosed ? json.size() : 0;
            if (turn.isClosed) {
                makeRoom(rebuilt, json.size());
                rebuilt.append(json);
            }
        } else if (keptChanges) {
            m_turnJson.truncate(kept.start);
            kept.length = turn.isClosed ? json.size() : 0;
            if (turn.isClosed) {
                makeRoom(m_turnJson, json.size());
                m_turnJson.append(json);
            }
        }
        if (!reused)
            kept.turn = turn.isClosed ? turn : SessionTurn();
    }
    turns.append(']');
    if (rebuilding)
        m_turnJson = std::move(rebuilt);
    return SessionDraft::assembleJson(turns, m_subtitles.encode(draft.subtitlesText, m_blockLength),
                                      m_translated.encode(draft.translatedText, m_blockLength), draft.panels);
}

QByteArray SessionDraftEncoder::EncodedText::encode(const QString &text, qsizetype blockLength)
{
    // Blocks end at fixed lengths, moved one character on where a surrogate pair would be cut,
    // so an unchanged beginning of the text falls into the same blocks every time.
    std::size_t reused = 0;
    qsizetype start = 0;
    std::vector<Block> blocks;
    while (start < text.size()) {
        qsizetype end = std::min(start + blockLength, text.size());
        if (end < text.size() && text.at(end - 1).isHighSurrogate())
            ++end;
        const std::size_t bytes = std::size_t(end - start) * sizeof(QChar);
        Block block;
        block.end = end;
        block.hashes[0] = quint64(qHashBits(text.constData() + start, bytes, firstSeed));
        block.hashes[1] = quint64(qHashBits(text.constData() + start, bytes, secondSeed));
        if (reused == blocks.size() && reused < m_blocks.size() && m_blocks[reused].end == end
            && m_blocks[reused].hashes[0] == block.hashes[0] && m_blocks[reused].hashes[1] == block.hashes[1]) {
            block.encodedEnd = m_blocks[reused].encodedEnd;
            ++reused;
        }
        blocks.push_back(block);
        start = end;
    }
    m_escaped.truncate(reused > 0 ? blocks[reused - 1].encodedEnd : 0);
    releaseSpareRoom(m_escaped);
    for (std::size_t i = reused; i < blocks.size(); ++i) {
        const qsizetype blockStart = i > 0 ? blocks[i - 1].end : 0;
        const QByteArray blockEscapes = escapes(QStringView(text).sliced(blockStart, blocks[i].end - blockStart));
        makeRoom(m_escaped, blockEscapes.size());
        m_escaped.append(blockEscapes);
        blocks[i].encodedEnd = m_escaped.size();
    }
    m_blocks = std::move(blocks);
    QByteArray quoted;
    quoted.reserve(m_escaped.size() + 2);
    quoted.append('"').append(m_escaped).append('"');
    return quoted;
}

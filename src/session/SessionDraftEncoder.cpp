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

} // namespace

SessionDraftEncoder::SessionDraftEncoder(qsizetype blockLength)
    : m_blockLength(std::max<qsizetype>(blockLength, 2))
{
}

QByteArray SessionDraftEncoder::encode(const SessionDraft &draft)
{
    QByteArray turns;
    turns.reserve(m_turns.empty() ? 2 : qsizetype(m_turns.size()) * 256);
    turns.append('[');
    for (std::size_t i = 0; i < draft.turns.size(); ++i) {
        if (i > 0)
            turns.append(',');
        turns.append(encodedTurn(i, draft.turns[i]));
    }
    turns.append(']');
    m_turns.resize(draft.turns.size());
    return SessionDraft::assembleJson(turns, m_subtitles.encode(draft.subtitlesText, m_blockLength),
                                      m_translated.encode(draft.translatedText, m_blockLength), draft.panels);
}

QByteArray SessionDraftEncoder::encodedTurn(std::size_t index, const SessionTurn &turn)
{
    // An open turn changes with nearly every draft: it is encoded each time, not kept.
    if (!turn.isClosed) {
        if (index < m_turns.size())
            m_turns[index] = EncodedTurn();
        return SessionDraft::encodeTurn(turn);
    }
    if (index >= m_turns.size())
        m_turns.resize(index + 1);
    EncodedTurn &kept = m_turns[index];
    if (kept.json.isEmpty() || !(kept.turn == turn)) {
        kept.turn = turn;
        kept.json = SessionDraft::encodeTurn(turn);
    }
    return kept.json;
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
    for (std::size_t i = reused; i < blocks.size(); ++i) {
        const qsizetype blockStart = i > 0 ? blocks[i - 1].end : 0;
        m_escaped.append(escapes(QStringView(text).sliced(blockStart, blocks[i].end - blockStart)));
        blocks[i].encodedEnd = m_escaped.size();
    }
    m_blocks = std::move(blocks);
    QByteArray quoted;
    quoted.reserve(m_escaped.size() + 2);
    quoted.append('"').append(m_escaped).append('"');
    return quoted;
}

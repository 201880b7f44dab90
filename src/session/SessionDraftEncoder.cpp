#include "session/SessionDraftEncoder.h"

#include "base/Json.h"
#include "base/VectorRoom.h"

#include <algorithm>
#include <tuple>

namespace {

// The fixed parts of the encoded draft, around the turns and the two rendered texts.
constexpr QByteArrayView head = "{\"turns\":[";
constexpr QByteArrayView afterTurns = "],\"subtitlesText\":\"";
constexpr QByteArrayView betweenTexts = "\",\"translatedText\":\"";

// The escapes of a piece of text as they stand between the quotes of its JSON string.
QByteArray escapedText(QStringView text)
{
    const QByteArray quoted = JsonObjectWriter::encodedString(text.toString());
    return quoted.mid(1, quoted.size() - 2);
}

// After a session was cleared or cut short, the room its end took is given back.
void releaseSpareRoom(QByteArray &buffer)
{
    if (buffer.capacity() > 2 * buffer.size() + 65536)
        buffer.squeeze();
}

QByteArray quoted(const QByteArray &escapes)
{
    QByteArray text;
    text.reserve(escapes.size() + 2);
    text.append('"').append(escapes).append('"');
    return text;
}

} // namespace

SessionDraftEncoder::SessionDraftEncoder(qsizetype blockLength)
    : m_blockLength(std::max<qsizetype>(blockLength, 2))
    , m_panelJson(encodedPanels())
{
}

QByteArray SessionDraftEncoder::encodedPanels() const
{
    // The members as SessionDraft::assembleJson() writes them, after the translated text.
    const QByteArray object =
        SessionDraft::assembleJson(QByteArray("[]"), QByteArray("\"\""), QByteArray("\"\""), m_panels, m_accountID);
    const qsizetype start = object.indexOf("\"transcriptSummaryText\"");
    return ',' + object.sliced(start, object.size() - start - 1);
}

qsizetype SessionDraftEncoder::turnsEnd() const
{
    return m_turns.empty() ? 0 : m_turns.back().start + m_turns.back().length;
}

SessionDraftEncoder::Result SessionDraftEncoder::apply(const SessionDraftChange &change)
{
    Result result;
    result.previousLength = jsonLength();
    const std::size_t oldCount = m_turns.size();
    const std::size_t count = change.turnCount();
    Q_ASSERT(change.firstTurn <= oldCount);
    const auto turnAt = [&change](std::size_t i) -> const SessionTurn & { return change.turns[i - change.firstTurn]; };

    // Turns the change may have changed that are as they were stay, up to the first that is not.
    const std::size_t common = std::min(count, oldCount);
    std::size_t first = std::min(change.firstTurn, oldCount);
    while (first < common && m_turns[first].turn == turnAt(first))
        ++first;
    if (first < common || count != oldCount) {
        result.judgedChanged = count != oldCount;
        for (std::size_t i = first; i < common && !result.judgedChanged; ++i) {
            const SessionTurn &turn = turnAt(i);
            result.judgedChanged = turn.text != m_turns[i].turn.text
                || turn.translationText != m_turns[i].turn.translationText;
        }
        // The JSON from the first changed turn on is made again; unchanged turns after it (a
        // turn rewritten before the end) keep their JSON.
        const qsizetype cut = first == 0 ? 0 : m_turns[first - 1].start + m_turns[first - 1].length;
        const QByteArray oldTail = m_turnJson.sliced(cut);
        const std::vector<KeptTurn> oldTurns(m_turns.begin() + std::ptrdiff_t(first), m_turns.end());
        m_turnJson.truncate(cut);
        m_turns.resize(first);
        releaseSpareRoom(m_turnJson);
        if (m_turns.capacity() > 2 * count + 256)
            m_turns.shrink_to_fit();
        // The kept turns live as long as the session, as the buffers do.
        VectorRoom::makeRoom(m_turns, count - first);
        for (std::size_t i = first; i < count; ++i) {
            KeptTurn kept;
            kept.turn = turnAt(i);
            const KeptTurn *old = i < oldCount ? &oldTurns[i - first] : nullptr;
            const QByteArray json = old && old->turn == kept.turn ? oldTail.sliced(old->start - cut, old->length)
                                                                  : SessionDraft::encodeTurn(kept.turn);
            VectorRoom::makeRoom(m_turnJson, std::size_t(json.size()) + 1);
            if (i > 0)
                m_turnJson.append(',');
            kept.start = m_turnJson.size();
            kept.length = json.size();
            m_turnJson.append(json);
            m_turns.push_back(std::move(kept));
        }
        result.edits.push_back({head.size() + cut, oldTail.size(), m_turnJson.sliced(cut)});
    }

    qsizetype textStart = head.size() + m_turnJson.size() + afterTurns.size();
    for (const auto &[text, kept, encoded] :
         {std::tuple(&change.subtitlesText, change.subtitlesKept, &m_subtitles),
          std::tuple(&change.translatedText, change.translatedKept, &m_translated)}) {
        const EncodedText::Edit edit = encoded->update(*text, kept, m_blockLength);
        if (edit.changed) {
            result.judgedChanged = true;
            result.edits.push_back({textStart + edit.from, edit.removed, encoded->escapes().sliced(edit.from)});
        }
        textStart += encoded->escapes().size() + betweenTexts.size();
    }

    if (!(change.panels == m_panels) || change.accountID != m_accountID) {
        result.judgedChanged = true;
        m_panels = change.panels;
        m_accountID = change.accountID;
        QByteArray panelJson = encodedPanels();
        // Right after the translated text's closing quote.
        const qsizetype panelStart = textStart - betweenTexts.size() + 1;
        result.edits.push_back({panelStart, m_panelJson.size(), panelJson});
        m_panelJson = std::move(panelJson);
    }
    return result;
}

QByteArray SessionDraftEncoder::encode(const SessionDraft &draft)
{
    apply(SessionDraftChange::whole(draft));
    return json();
}

qsizetype SessionDraftEncoder::jsonLength() const
{
    return head.size() + m_turnJson.size() + afterTurns.size() + m_subtitles.escapes().size() + betweenTexts.size()
        + m_translated.escapes().size() + 1 + m_panelJson.size() + 1;
}

QByteArray SessionDraftEncoder::json() const
{
    QByteArray json;
    json.reserve(jsonLength());
    json.append(head).append(m_turnJson).append(afterTurns).append(m_subtitles.escapes()).append(betweenTexts);
    json.append(m_translated.escapes()).append('"').append(m_panelJson).append('}');
    return json;
}

QString SessionDraftEncoder::fingerprint() const
{
    return SessionDraft::fingerprintOf(quoted(m_subtitles.escapes()), quoted(m_translated.escapes()), m_panels,
                                       m_turns.size(), [this](std::size_t i) -> const SessionTurn & {
                                           return m_turns[i].turn;
                                       });
}

SessionDraftEncoder::EncodedText::Edit SessionDraftEncoder::EncodedText::update(const QString &text, qsizetype kept,
                                                                                 qsizetype blockLength)
{
    const qsizetype oldLength = m_blocks.empty() ? 0 : m_blocks.back().end;
    kept = std::clamp<qsizetype>(kept, 0, std::min(text.size(), oldLength));
    // The blocks wholly within the kept beginning stay; the rest is encoded again.
    const auto firstChanged = std::upper_bound(m_blocks.begin(), m_blocks.end(), kept,
                                               [](qsizetype position, const Block &block) { return position < block.end; });
    const std::size_t keptBlocks = std::size_t(firstChanged - m_blocks.begin());
    qsizetype start = keptBlocks > 0 ? m_blocks[keptBlocks - 1].end : 0;
    Edit edit;
    edit.from = keptBlocks > 0 ? m_blocks[keptBlocks - 1].encodedEnd : 0;
    const QByteArray oldTail = m_escaped.sliced(edit.from);
    edit.removed = oldTail.size();
    m_blocks.resize(keptBlocks);
    m_escaped.truncate(edit.from);
    releaseSpareRoom(m_escaped);
    // Blocks end at fixed lengths, moved one character on where a surrogate pair would be cut,
    // so an unchanged beginning of the text falls into the same blocks every time.
    while (start < text.size()) {
        qsizetype end = std::min(start + blockLength, text.size());
        if (end < text.size() && text.at(end - 1).isHighSurrogate())
            ++end;
        const QByteArray blockEscapes = escapedText(QStringView(text).sliced(start, end - start));
        VectorRoom::makeRoom(m_escaped, std::size_t(blockEscapes.size()));
        m_escaped.append(blockEscapes);
        m_blocks.push_back(Block{end, m_escaped.size()});
        start = end;
    }
    edit.changed = QByteArrayView(m_escaped).sliced(edit.from) != oldTail;
    return edit;
}

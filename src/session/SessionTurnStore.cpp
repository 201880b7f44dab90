#include "session/SessionTurnStore.h"

#include "base/Text.h"
#include "base/VectorRoom.h"
#include "session/TranscriptTextRules.h"

using namespace TranscriptTextRules;

namespace {

// A closed turn's texts are kept for the rest of the session: they keep none of the spare room
// left by the appends that built them.
QString compacted(const QString &text)
{
    if (text.capacity() <= text.size())
        return text;
    QString compact = text;
    compact.squeeze();
    return compact;
}

} // namespace

SessionTurnStore::SessionTurnStore(QObject *parent)
    : SessionTurnStore([] { return QDateTime::currentDateTime(); }, parent)
{
}

SessionTurnStore::SessionTurnStore(Clock clock, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(clock))
{
}

std::optional<int> SessionTurnStore::indexOf(const QUuid &id) const
{
    const auto found = m_indexByID.constFind(id);
    if (found == m_indexByID.constEnd())
        return std::nullopt;
    return *found;
}

void SessionTurnStore::applyInterimTranscript(const QString &transcript)
{
    const QString fragment = normalizedTranscriptFragment(transcript);
    const QString base = hasOpenTurn() ? m_turns.back().text : QString();
    const QString preview = mergedText(base, fragment);
    setLiveSubtitlePreview(preview);
    if (m_isTranslationAvailable && !fragment.isEmpty()) {
        const QUuid turnID = ensureOpenTurn();
        Q_EMIT interimChunkReady(preview, turnID);
    }
}

void SessionTurnStore::applyFinalTranscript(const QString &transcript, bool speechFinal)
{
    const QString current = normalizedTranscriptFragment(transcript);
    if (current.isEmpty()) {
        if (speechFinal)
            finalizeCurrentTurnIfNeeded();
        return;
    }
    const QString delta = transcriptDelta(current, m_lastFinalTranscript);
    m_lastFinalTranscript = current;
    if (delta.isEmpty()) {
        if (speechFinal)
            finalizeCurrentTurnIfNeeded();
        return;
    }

    const QUuid turnID = ensureOpenTurn();
    appendDeltaToTurn(delta, turnID);

    const QString trimmedDelta = Text::trimmed(delta);
    if (speechFinal || (!trimmedDelta.isEmpty() && isSentenceEnd(trimmedDelta.back()))) {
        setLiveSubtitlePreview(QString());
        finalizeCurrentTurnIfNeeded();
        return;
    }

    const auto index = indexOf(turnID);
    const QString text = index ? m_turns[std::size_t(*index)].text : delta;
    setLiveSubtitlePreview(text);
    if (m_isTranslationAvailable)
        Q_EMIT interimChunkReady(text, turnID);
}

void SessionTurnStore::finalizeCurrentTurnIfNeeded()
{
    setLiveSubtitlePreview(QString());
    if (!hasOpenTurn()) {
        m_lastFinalTranscript.clear();
        return;
    }
    const int index = count() - 1;
    SessionTurn &turn = m_turns.back();
    const QString trimmedText = Text::trimmed(turn.text);
    if (trimmedText.isEmpty()) {
        m_indexByID.remove(turn.id);
        m_turns.pop_back();
        m_lastFinalTranscript.clear();
        Q_EMIT turnRemoved(index);
        return;
    }
    const QString closedText = compacted(trimmedText);
    turn.text = closedText;
    turn.isClosed = true;
    const QUuid turnID = turn.id;
    Q_EMIT turnClosing(turnID, index);
    if (m_isTranslationAvailable)
        Q_EMIT finalChunkReady(closedText, turnID);
    m_lastFinalTranscript.clear();
    Q_EMIT turnClosed(index);
}

QUuid SessionTurnStore::ensureOpenTurn()
{
    if (hasOpenTurn())
        return m_turns.back().id;
    SessionTurn turn;
    turn.id = QUuid::createUuid();
    turn.timestamp = m_clock();
    VectorRoom::makeRoom(m_turns);
    m_turns.push_back(turn);
    const int index = count() - 1;
    m_indexByID.insert(turn.id, index);
    Q_EMIT turnOpened(index);
    return turn.id;
}

void SessionTurnStore::appendDeltaToTurn(const QString &delta, const QUuid &turnID)
{
    const auto index = indexOf(turnID);
    if (!index)
        return;
    SessionTurn &turn = m_turns[std::size_t(*index)];
    turn.text = mergedText(turn.text, delta);
    Q_EMIT turnChanged(*index);
}

void SessionTurnStore::setText(int index, const QString &text)
{
    if (index < 0 || index >= count() || m_turns[std::size_t(index)].text == text)
        return;
    SessionTurn &turn = m_turns[std::size_t(index)];
    turn.text = turn.isClosed ? compacted(text) : text;
    Q_EMIT turnChanged(index);
}

void SessionTurnStore::setTranslationText(int index, const QString &translation,
                                          std::optional<TranslationLanguageOption> language)
{
    if (index < 0 || index >= count())
        return;
    SessionTurn &turn = m_turns[std::size_t(index)];
    const std::optional<TranslationLanguageOption> madeIn = language ? language : turn.translationLanguage;
    if (turn.translationText == translation && turn.translationLanguage == madeIn)
        return;
    turn.translationText = compacted(translation);
    turn.translationLanguage = madeIn;
    Q_EMIT turnChanged(index);
}

void SessionTurnStore::setSpeakerLabels(int index, std::optional<QString> speakerLabel,
                                        std::optional<QString> translationSpeakerLabel)
{
    if (index < 0 || index >= count())
        return;
    SessionTurn &turn = m_turns[std::size_t(index)];
    if (turn.speakerLabel == speakerLabel && turn.translationSpeakerLabel == translationSpeakerLabel)
        return;
    turn.speakerLabel = std::move(speakerLabel);
    turn.translationSpeakerLabel = std::move(translationSpeakerLabel);
    Q_EMIT turnChanged(index);
}

void SessionTurnStore::replaceAll(std::vector<SessionTurn> turns)
{
    m_turns = std::move(turns);
    VectorRoom::trim(m_turns);
    reindex();
    Q_EMIT turnsReset();
}

void SessionTurnStore::clear()
{
    VectorRoom::release(m_turns);
    m_indexByID.clear();
    m_lastFinalTranscript.clear();
    setLiveSubtitlePreview(QString());
    setLiveTranslationPreview(QString());
    Q_EMIT turnsReset();
}

void SessionTurnStore::setLiveSubtitlePreview(const QString &text)
{
    if (m_liveSubtitlePreview == text)
        return;
    m_liveSubtitlePreview = text;
    Q_EMIT liveSubtitlePreviewChanged(text);
}

void SessionTurnStore::setLiveTranslationPreview(const QString &text)
{
    if (m_liveTranslationPreview == text)
        return;
    m_liveTranslationPreview = text;
    Q_EMIT liveTranslationPreviewChanged(text);
}

std::optional<QString> SessionTurnStore::labelForSpeaker(int number) const
{
    const auto found = m_speakerNumberToLabel.constFind(number);
    if (found == m_speakerNumberToLabel.constEnd())
        return std::nullopt;
    return *found;
}

std::optional<int> SessionTurnStore::numberForSpeaker(const QString &label) const
{
    const auto found = m_speakerLabelToNumber.constFind(Text::trimmed(label));
    if (found == m_speakerLabelToNumber.constEnd())
        return std::nullopt;
    return *found;
}

std::optional<int> SessionTurnStore::speakerNumber(const std::optional<QString> &label)
{
    const auto trimmedLabel = Text::nilIfEmpty(label);
    if (!trimmedLabel)
        return std::nullopt;
    if (const auto known = numberForSpeaker(*trimmedLabel))
        return known;
    const int number = m_nextSpeakerNumber++;
    m_speakerLabelToNumber.insert(*trimmedLabel, number);
    m_speakerNumberToLabel.insert(number, *trimmedLabel);
    return number;
}

void SessionTurnStore::clearSpeakerMaps()
{
    m_speakerLabelToNumber.clear();
    m_speakerNumberToLabel.clear();
    m_nextSpeakerNumber = 1;
}

void SessionTurnStore::reindex()
{
    m_indexByID.clear();
    m_indexByID.reserve(qsizetype(m_turns.size()));
    for (int i = 0; i < count(); ++i)
        m_indexByID.insert(m_turns[std::size_t(i)].id, i);
}

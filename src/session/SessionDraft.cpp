#include "session/SessionDraft.h"

#include "base/Dates.h"
#include "base/Json.h"

#include <QCryptographicHash>
#include <QHashFunctions>

namespace {

// Two independent 64-bit hashes of some bytes.
void appendHash(QByteArray &hashes, QByteArrayView bytes)
{
    const quint64 values[2] = {quint64(qHashBits(bytes.data(), std::size_t(bytes.size()), 0x6b617672656c3031ULL)),
                               quint64(qHashBits(bytes.data(), std::size_t(bytes.size()), 0x3f1d2c5b9e8a7d41ULL))};
    hashes.append(reinterpret_cast<const char *>(values), sizeof values);
}

// The same of a text's UTF-16 code units.
void appendTextHash(QByteArray &hashes, const QString &text)
{
    appendHash(hashes, QByteArrayView(reinterpret_cast<const char *>(text.constData()),
                                      text.size() * qsizetype(sizeof(QChar))));
}

} // namespace

QByteArray SessionDraft::encodeTurn(const SessionTurn &turn)
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("id"), turn.id.toString(QUuid::WithoutBraces).toUpper());
    if (turn.speakerLabel)
        writer.add(QStringLiteral("speakerLabel"), *turn.speakerLabel);
    writer.add(QStringLiteral("text"), turn.text);
    if (turn.translationSpeakerLabel)
        writer.add(QStringLiteral("translationSpeakerLabel"), *turn.translationSpeakerLabel);
    writer.add(QStringLiteral("translationText"), turn.translationText);
    // Only when known: a turn without it reads as in a draft written before it was kept.
    if (turn.translationLanguage)
        writer.add(QStringLiteral("translationLanguage"), TranslationLanguageOptions::rawValue(*turn.translationLanguage));
    writer.add(QStringLiteral("timestamp"), Dates::formatIso8601(turn.timestamp));
    writer.add(QStringLiteral("isClosed"), turn.isClosed);
    return writer.toJson();
}

namespace {

SessionTurn decodeTurn(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    SessionTurn turn;
    const QString idText = reader.string(QStringLiteral("id"));
    turn.id = QUuid::fromString(idText);
    if (idText.size() != 36 || turn.id.isNull())
        reader.fail(QStringLiteral("id"), QStringLiteral("not a UUID"));
    turn.speakerLabel = reader.optionalString(QStringLiteral("speakerLabel"));
    turn.text = reader.string(QStringLiteral("text"));
    turn.translationSpeakerLabel = reader.optionalString(QStringLiteral("translationSpeakerLabel"));
    turn.translationText = reader.string(QStringLiteral("translationText"));
    if (const std::optional<QString> language = reader.optionalString(QStringLiteral("translationLanguage"))) {
        turn.translationLanguage = TranslationLanguageOptions::fromRawValue(*language);
        if (!turn.translationLanguage)
            reader.fail(QStringLiteral("translationLanguage"), QStringLiteral("not a translation language"));
    }
    // Whole seconds only: that is the form the draft is written in.
    const QString timestamp = reader.string(QStringLiteral("timestamp"));
    const auto date = Dates::parseIso8601(timestamp);
    if (!date || timestamp.contains(u'.'))
        reader.fail(QStringLiteral("timestamp"), QStringLiteral("not an ISO 8601 date-time without fractional seconds"));
    turn.timestamp = *date;
    turn.isClosed = reader.boolean(QStringLiteral("isClosed"));
    return turn;
}

} // namespace

QByteArray SessionDraft::toJson() const
{
    QList<QByteArray> encodedTurns;
    encodedTurns.reserve(qsizetype(turns.size()));
    for (const SessionTurn &turn : turns)
        encodedTurns.append(encodeTurn(turn));
    return assembleJson(JsonObjectWriter::array(encodedTurns), JsonObjectWriter::encodedString(subtitlesText),
                        JsonObjectWriter::encodedString(translatedText), panels, accountID);
}

QByteArray SessionDraft::assembleJson(const QByteArray &encodedTurns, const QByteArray &encodedSubtitlesText,
                                      const QByteArray &encodedTranslatedText, const AIPanelTexts &panels,
                                      const std::optional<QString> &accountID)
{
    JsonObjectWriter writer;
    writer.addEncoded(QStringLiteral("turns"), encodedTurns);
    writer.addEncoded(QStringLiteral("subtitlesText"), encodedSubtitlesText);
    writer.addEncoded(QStringLiteral("translatedText"), encodedTranslatedText);
    writer.add(QStringLiteral("transcriptSummaryText"), panels.transcriptSummaryText);
    writer.add(QStringLiteral("translationSummaryText"), panels.translationSummaryText);
    writer.add(QStringLiteral("transcriptProtocolText"), panels.transcriptProtocolText);
    writer.add(QStringLiteral("translationProtocolText"), panels.translationProtocolText);
    writer.add(QStringLiteral("transcriptAnswerText"), panels.transcriptAnswerText);
    writer.add(QStringLiteral("translationAnswerText"), panels.translationAnswerText);
    if (accountID)
        writer.add(QStringLiteral("accountId"), *accountID);
    return writer.toJson();
}

QString SessionDraft::fingerprint() const
{
    return fingerprintOf(JsonObjectWriter::encodedString(subtitlesText), JsonObjectWriter::encodedString(translatedText),
                         panels, turns.size(), [this](std::size_t i) -> const SessionTurn & { return turns[i]; });
}

QString SessionDraft::fingerprintOf(QByteArrayView encodedSubtitlesText, QByteArrayView encodedTranslatedText,
                                    const AIPanelTexts &panels, std::size_t turnCount,
                                    const std::function<const SessionTurn &(std::size_t)> &turnAt)
{
    // Only a digest is kept between writes: each text is hashed on its own (fast, and no text can
    // pass for the end of another), and only the short run of hashes is digested.
    QByteArray hashes;
    hashes.reserve(qsizetype(8 + 2 * turnCount) * 16);
    appendHash(hashes, encodedSubtitlesText);
    appendHash(hashes, encodedTranslatedText);
    for (const QString *text : {&panels.transcriptSummaryText, &panels.translationSummaryText,
                                &panels.transcriptProtocolText, &panels.translationProtocolText,
                                &panels.transcriptAnswerText, &panels.translationAnswerText})
        appendTextHash(hashes, *text);
    for (std::size_t i = 0; i < turnCount; ++i) {
        const SessionTurn &turn = turnAt(i);
        appendTextHash(hashes, turn.text);
        appendTextHash(hashes, turn.translationText);
        // A translation's language counts only where it is known, so a draft restored from
        // before languages were kept is judged as it was written.
        if (turn.translationLanguage)
            appendTextHash(hashes, TranslationLanguageOptions::rawValue(*turn.translationLanguage));
    }
    return QString::fromLatin1(QCryptographicHash::hash(hashes, QCryptographicHash::Sha256).toHex());
}

SessionDraftChange SessionDraftChange::whole(SessionDraft draft)
{
    SessionDraftChange change;
    change.turns = std::move(draft.turns);
    change.subtitlesText = std::move(draft.subtitlesText);
    change.translatedText = std::move(draft.translatedText);
    change.panels = std::move(draft.panels);
    change.accountID = std::move(draft.accountID);
    return change;
}

void SessionDraftChange::includeEarlier(SessionDraftChange &&earlier)
{
    // The turns between the two first changed ones are as the earlier change has them. Its list
    // is taken over rather than copied: a writer behind a long session merges a change of the
    // last turn into one that holds the whole session, once per result.
    const std::size_t first = std::min(earlier.firstTurn, firstTurn);
    if (first < firstTurn) {
        // The draft store never names a first changed turn past the turns it handed over before.
        Q_ASSERT(firstTurn - first <= earlier.turns.size());
        const std::size_t taken = std::min(firstTurn - first, earlier.turns.size());
        std::vector<SessionTurn> joined = std::move(earlier.turns);
        joined.erase(joined.begin() + std::ptrdiff_t(taken), joined.end());
        joined.insert(joined.end(), std::make_move_iterator(turns.begin()), std::make_move_iterator(turns.end()));
        turns = std::move(joined);
        firstTurn = first;
    }
    subtitlesKept = std::min(subtitlesKept, earlier.subtitlesKept);
    translatedKept = std::min(translatedKept, earlier.translatedKept);
}

SessionDraft SessionDraft::fromJson(const QByteArray &json)
{
    const JsonReader reader = JsonReader::parse(json, QStringLiteral("draft"));
    SessionDraft draft;
    const QJsonArray turns = reader.array(QStringLiteral("turns"));
    for (qsizetype i = 0; i < turns.size(); ++i)
        draft.turns.push_back(decodeTurn(turns.at(i), reader.pathOf(QStringLiteral("turns[%1]").arg(i))));
    draft.subtitlesText = reader.string(QStringLiteral("subtitlesText"));
    draft.translatedText = reader.string(QStringLiteral("translatedText"));
    draft.panels.transcriptSummaryText = reader.string(QStringLiteral("transcriptSummaryText"));
    draft.panels.translationSummaryText = reader.string(QStringLiteral("translationSummaryText"));
    draft.panels.transcriptProtocolText = reader.string(QStringLiteral("transcriptProtocolText"));
    draft.panels.translationProtocolText = reader.string(QStringLiteral("translationProtocolText"));
    draft.panels.transcriptAnswerText = reader.string(QStringLiteral("transcriptAnswerText"));
    draft.panels.translationAnswerText = reader.string(QStringLiteral("translationAnswerText"));
    draft.accountID = reader.optionalString(QStringLiteral("accountId"));
    return draft;
}

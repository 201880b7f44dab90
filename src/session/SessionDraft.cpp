#include "session/SessionDraft.h"

#include "base/Dates.h"
#include "base/Json.h"

#include <QCryptographicHash>
#include <QHashFunctions>

namespace {

// Two independent 64-bit hashes of a text's UTF-16 code units.
void appendTextHash(QByteArray &hashes, const QString &text)
{
    const std::size_t bytes = std::size_t(text.size()) * sizeof(QChar);
    const quint64 values[2] = {quint64(qHashBits(text.constData(), bytes, 0x6b617672656c3031ULL)),
                               quint64(qHashBits(text.constData(), bytes, 0x3f1d2c5b9e8a7d41ULL))};
    hashes.append(reinterpret_cast<const char *>(values), sizeof values);
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
                        JsonObjectWriter::encodedString(translatedText), panels);
}

QByteArray SessionDraft::assembleJson(const QByteArray &encodedTurns, const QByteArray &encodedSubtitlesText,
                                      const QByteArray &encodedTranslatedText, const AIPanelTexts &panels)
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
    return writer.toJson();
}

QString SessionDraft::fingerprint() const
{
    // Only a digest is kept between writes, and it is taken for every change of a long session:
    // each text is hashed on its own (fast, and no text can pass for the end of another), and
    // only the short run of hashes is digested.
    QByteArray hashes;
    hashes.reserve(qsizetype(8 + 2 * turns.size()) * 16);
    for (const QString *text : {&subtitlesText, &translatedText, &panels.transcriptSummaryText,
                                &panels.translationSummaryText, &panels.transcriptProtocolText,
                                &panels.translationProtocolText, &panels.transcriptAnswerText,
                                &panels.translationAnswerText})
        appendTextHash(hashes, *text);
    for (const SessionTurn &turn : turns) {
        appendTextHash(hashes, turn.text);
        appendTextHash(hashes, turn.translationText);
    }
    return QString::fromLatin1(QCryptographicHash::hash(hashes, QCryptographicHash::Sha256).toHex());
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
    return draft;
}

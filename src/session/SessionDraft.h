#pragma once

// The local copy of the current session kept in the user defaults, so the last transcript is
// back after a restart: every turn (the open one too), the two rendered texts and the texts of
// the six AI result panels. Stored as compact JSON with the keys in a fixed order; read
// strictly (a missing required key, a wrong type, an id that is no UUID or a time that is not
// a whole-second ISO 8601 date-time fails the whole draft). The account the meeting was
// recorded under goes last, and only once it is known: a draft written before accounts were
// kept has none.

#include "session/SessionModel.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// The texts of the AI result panels, as the draft keeps them.
struct AIPanelTexts
{
    QString transcriptSummaryText;
    QString translationSummaryText;
    QString transcriptProtocolText;
    QString translationProtocolText;
    QString transcriptAnswerText;
    QString translationAnswerText;

    bool operator==(const AIPanelTexts &) const = default;
};

struct SessionDraft
{
    // The turns field for field ("turns" in the JSON, each a DraftTurn object).
    std::vector<SessionTurn> turns;
    QString subtitlesText;
    QString translatedText;
    AIPanelTexts panels;
    std::optional<QString> accountID;

    QByteArray toJson() const;
    // A digest of what a write is judged by: the eight texts, then every turn's text, translation
    // and the translation's language. Ids, times, labels and the closed flags are left out.
    QString fingerprint() const;
    // The same from its parts, for an encoder that keeps the rendered texts only encoded (as
    // encodedString() gives them).
    static QString fingerprintOf(QByteArrayView encodedSubtitlesText, QByteArrayView encodedTranslatedText,
                                 const AIPanelTexts &panels, std::size_t turnCount,
                                 const std::function<const SessionTurn &(std::size_t)> &turnAt);
    // The pieces toJson() is made of, for an encoder that keeps some of them from one draft to
    // the next: one element of "turns", and the whole object from its encoded parts.
    static QByteArray encodeTurn(const SessionTurn &turn);
    static QByteArray assembleJson(const QByteArray &encodedTurns, const QByteArray &encodedSubtitlesText,
                                   const QByteArray &encodedTranslatedText, const AIPanelTexts &panels,
                                   const std::optional<QString> &accountID);
    // Throws JsonDecodeError.
    static SessionDraft fromJson(const QByteArray &json);

    bool operator==(const SessionDraft &) const = default;
};

// One change of the draft as the draft store hands it to the writer, made in proportion to what
// changed rather than to the session: the turns from the first one that may differ from the
// change before (the ones before it are as they were then), the two rendered texts with how
// many of their first characters are as they were, and the panel texts.
struct SessionDraftChange
{
    std::size_t firstTurn = 0;
    // The session's turns from firstTurn on.
    std::vector<SessionTurn> turns;
    QString subtitlesText;
    qsizetype subtitlesKept = 0;
    QString translatedText;
    qsizetype translatedKept = 0;
    AIPanelTexts panels;
    std::optional<QString> accountID;

    std::size_t turnCount() const { return firstTurn + turns.size(); }
    // The whole draft, nothing taken as kept.
    static SessionDraftChange whole(SessionDraft draft);
    // Makes this change stand for the one before it (not taken yet) and itself; the earlier one
    // is used up.
    void includeEarlier(SessionDraftChange &&earlier);
};

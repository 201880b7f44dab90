#pragma once

// The local copy of the current session kept in the user defaults, so the last transcript is
// back after a restart: every turn (the open one too), the two rendered texts and the texts of
// the six AI result panels. Stored as compact JSON with the keys in a fixed order; read
// strictly (a missing required key, a wrong type, an id that is no UUID or a time that is not
// a whole-second ISO 8601 date-time fails the whole draft).

#include "session/SessionModel.h"

#include <QByteArray>
#include <QString>

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

    QByteArray toJson() const;
    // A digest of what a write is judged by: the eight texts, then every turn's text and every
    // turn's translation. Ids, times, labels and the closed flags are left out.
    QString fingerprint() const;
    // The pieces toJson() is made of, for an encoder that keeps some of them from one draft to
    // the next: one element of "turns", and the whole object from its encoded parts.
    static QByteArray encodeTurn(const SessionTurn &turn);
    static QByteArray assembleJson(const QByteArray &encodedTurns, const QByteArray &encodedSubtitlesText,
                                   const QByteArray &encodedTranslatedText, const AIPanelTexts &panels);
    // Throws JsonDecodeError.
    static SessionDraft fromJson(const QByteArray &json);

    bool operator==(const SessionDraft &) const = default;
};

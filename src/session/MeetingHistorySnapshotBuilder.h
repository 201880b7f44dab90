#pragma once

#include "services/MeetingSessionHistorySnapshot.h"
#include "session/SessionModel.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

// Builds the meeting record that the history server keeps of a conversation, from its turns
// and the settings it was recorded with.
namespace MeetingHistorySnapshotBuilder {

struct Input
{
    std::vector<SessionTurn> turns;
    MeetingSettings settings;
    // The AI results worth keeping, per column (a local fallback is not one).
    QString transcriptSummary;
    QString translationSummary;
    QString transcriptProtocol;
    QString translationProtocol;
    QString transcriptAnswer;
    QString translationAnswer;
    // Conversation facts kept by the history sync.
    std::optional<QDateTime> startedAt;
    // Fixed when the meeting stopped: the record is then completed and ends there.
    std::optional<QDateTime> endedAt;
    QString source;
    bool focusMode = false;
    QString clientSessionID;
    QString appVersion;
    QDateTime now;
};

// Nothing when there is nothing to save: no blocks, no AI texts and no empty record asked for.
std::optional<MeetingSessionHistorySnapshot> snapshot(const Input &input, MeetingSessionHistoryStatus status,
                                                      bool allowEmptySession);

// One block per turn with text, numbered from 1, with the id "turn-<uuid>".
QList<MeetingSessionTranscriptBlock> transcriptBlocks(const std::vector<SessionTurn> &turns);
// The translation of each turn that has a transcript block, whatever the translation setting
// is now: a translation made is part of the meeting. Each is in the language it was made in;
// one whose language was not kept, in the meeting's.
QList<MeetingSessionTranslationBlock> translationBlocks(const std::vector<SessionTurn> &turns,
                                                        const QList<MeetingSessionTranscriptBlock> &blocks,
                                                        TranslationLanguageOption meetingLanguage);
// The first 120 characters of the first turn with text.
std::optional<QString> title(const std::vector<SessionTurn> &turns);
// The transcript column's text if it has one, else the translation column's.
std::optional<QString> preferredText(const QString &transcriptSide, const QString &translationSide);

} // namespace MeetingHistorySnapshotBuilder

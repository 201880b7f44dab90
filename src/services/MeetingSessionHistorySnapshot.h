#pragma once

#include "services/MeetingSessionHistoryTypes.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The record of one meeting as this client sends it: built by the session engine (and by
// the history browser when it stores a new summary) and written by the history service.
struct MeetingSessionHistorySnapshot
{
    std::optional<QString> title;
    QDateTime startedAt;
    std::optional<QDateTime> endedAt;        // only in a completed snapshot
    std::optional<qint64> durationSeconds;   // whole seconds, never negative
    MeetingSessionHistoryStatus status = MeetingSessionHistoryStatus::active;
    QString inputLanguage;                   // "ru", "en", "de", "es", "fr"
    std::optional<QString> translationLanguage; // lower-case English name, only with translation on
    bool translationEnabled = false;
    bool recordingEnabled = false;
    std::optional<QString> microphoneLabel;
    QList<MeetingSessionTranscriptBlock> transcriptBlocks;
    QList<MeetingSessionTranslationBlock> translationBlocks;
    std::optional<QString> summaryText;
    std::optional<QString> protocolText;
    std::optional<QString> suggestedAnswerText;
    MeetingSessionHistorySessionParams sessionParams;

    // The change fingerprint: equal for snapshots that would put the same content on the
    // server (dates count to the second, as they are sent), different otherwise. Saves
    // whose fingerprint did not change are skipped, so no two different records may share
    // one: every text is escaped and an absent value is told apart from an empty one.
    QString signature() const;

    bool operator==(const MeetingSessionHistorySnapshot &) const = default;
};

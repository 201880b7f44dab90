#pragma once

#include "session/SessionModel.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

// The dialogue of the running session and the intake that grows it from speech-to-text
// results. It owns sessionTurns (the one source of the dialogue: rows, texts, the draft,
// history blocks and rewrite windows are all derived from it), the open turn (at most one,
// always the last), the previous final result of the open turn, the live preview line and
// the speaker maps.
//
// Others change turns only through the methods below, so every change is announced:
//  - turnOpened / turnChanged / turnClosed / turnRemoved name the index of one turn;
//  - turnsReset says the whole list was replaced or emptied;
//  - liveSubtitlePreviewChanged and liveTranslationPreviewChanged follow the two live lines;
//  - interimChunkReady / finalChunkReady carry the text that live translation should get
//    (only while translation is available), and turnClosing comes just before a turn's
//    final chunk, so a pending preview translation can be kept as the turn's translation
//    before the final chunk goes out.
// Signals are emitted synchronously, after the change is complete.
//
// Main thread only.
class SessionTurnStore final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit SessionTurnStore(QObject *parent = nullptr);
    // The clock stamps new turns (tests pass a fixed one).
    explicit SessionTurnStore(Clock clock, QObject *parent = nullptr);

    const std::vector<SessionTurn> &turns() const { return m_turns; }
    int count() const { return int(m_turns.size()); }
    const SessionTurn &at(int index) const { return m_turns[std::size_t(index)]; }
    std::optional<int> indexOf(const QUuid &id) const;
    bool hasOpenTurn() const { return !m_turns.empty() && !m_turns.back().isClosed; }
    int closedTurnCount() const { return hasOpenTurn() ? count() - 1 : count(); }

    QString liveSubtitlePreview() const { return m_liveSubtitlePreview; }
    // The interim translation of the open turn, written by live translation.
    QString liveTranslationPreview() const { return m_liveTranslationPreview; }
    void setLiveTranslationPreview(const QString &text);
    // The normalised text of the newest final result since the last turn closed.
    QString lastFinalTranscript() const { return m_lastFinalTranscript; }

    // Turns are handed to live translation only while it is available.
    bool isTranslationAvailable() const { return m_isTranslationAvailable; }
    void setTranslationAvailable(bool available) { m_isTranslationAvailable = available; }

    // Intake of speech-to-text results.
    void applyInterimTranscript(const QString &transcript);
    void applyFinalTranscript(const QString &transcript, bool speechFinal);
    // Closes the open turn (a blank one is removed instead) and empties the live line.
    void finalizeCurrentTurnIfNeeded();
    // The id of the open turn, opening an empty one when none is open.
    QUuid ensureOpenTurn();

    // Edits by the other parts of the engine (translation, rewriting, restore).
    void setText(int index, const QString &text);
    // The language is the one the translation was made in; without one the turn keeps the
    // language it has (a label moved into the text changes no language).
    void setTranslationText(int index, const QString &translation,
                            std::optional<TranslationLanguageOption> language = std::nullopt);
    void setSpeakerLabels(int index, std::optional<QString> speakerLabel, std::optional<QString> translationSpeakerLabel);
    void replaceAll(std::vector<SessionTurn> turns);
    // Empties the dialogue, both live lines and the previous final result.
    void clear();
    void setLiveSubtitlePreview(const QString &text);
    // Forgets the previous final result, so the next final result is taken whole.
    void forgetLastFinalTranscript() { m_lastFinalTranscript.clear(); }

    // Speaker maps: trimmed label to number and back.
    std::optional<QString> labelForSpeaker(int number) const;
    std::optional<int> numberForSpeaker(const QString &label) const;
    // Hands out the next number to a new label (an empty label gets none).
    std::optional<int> speakerNumber(const std::optional<QString> &label);
    void clearSpeakerMaps();

Q_SIGNALS:
    void turnOpened(int index);
    void turnChanged(int index);
    void turnClosing(const QUuid &turnID, int index);
    void turnClosed(int index);
    void turnRemoved(int index);
    void turnsReset();
    void liveSubtitlePreviewChanged(const QString &text);
    void liveTranslationPreviewChanged(const QString &text);
    void interimChunkReady(const QString &text, const QUuid &turnID);
    void finalChunkReady(const QString &text, const QUuid &turnID);

private:
    void appendDeltaToTurn(const QString &delta, const QUuid &turnID);
    void reindex();

    Clock m_clock;
    std::vector<SessionTurn> m_turns;
    QHash<QUuid, int> m_indexByID;
    QString m_lastFinalTranscript;
    QString m_liveSubtitlePreview;
    QString m_liveTranslationPreview;
    bool m_isTranslationAvailable = false;
    QHash<QString, int> m_speakerLabelToNumber;
    QHash<int, QString> m_speakerNumberToLabel;
    int m_nextSpeakerNumber = 1;
};

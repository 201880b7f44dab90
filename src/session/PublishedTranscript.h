#pragma once

#include "session/SessionModel.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

#include <vector>

class SessionTurnStore;

// The published form of the dialogue: one transcript row per closed turn with text, one
// translation row per closed turn with a translation, and both columns rendered as plain
// text ("[HH:mm:ss] text" lines joined by newlines). It follows SessionTurnStore and owns
// only what it derives.
//
// A view follows a column row by row: rowInserted / rowChanged / rowRemoved name the row that
// changed and rowsReset says the column was rebuilt; one more closed turn costs one row, not a
// rebuild. The whole-column values (entries and texts) stay correct at every moment and are
// assembled only when read.
//
// Speaker labels are not supported: a translation label without a source label is folded
// into the translation text ("B: Hello"), then every label is dropped, so rows carry no
// speaker number.
//
// Main thread only.
class PublishedTranscript final : public QObject
{
    Q_OBJECT

public:
    enum class Column { transcript, translation };
    Q_ENUM(Column)

    explicit PublishedTranscript(SessionTurnStore *turns, QObject *parent = nullptr);

    int rowCount(Column column) const;
    const DialogueEntry &row(Column column, int index) const;
    QList<DialogueEntry> entries(Column column) const;
    // The column as text.
    QString text(Column column) const;
    // True when some row of the column has a speaker number.
    bool showsDialogueMode(Column column) const;

    QList<DialogueEntry> transcriptEntries() const { return entries(Column::transcript); }
    QList<DialogueEntry> translationEntries() const { return entries(Column::translation); }
    QString subtitlesText() const { return text(Column::transcript); }
    QString translatedText() const { return text(Column::translation); }

    // Derives both columns from the turns anew.
    void rebuildPublishedState();

    // What a view of one column does on each row-level change.
    struct ColumnFollower
    {
        std::function<void(int row)> inserted;
        std::function<void(int row)> changed;
        std::function<void(int row)> removed;
        std::function<void()> reset;
    };
    // Calls the follower's functions for the changes of `column` while `context` lives.
    void followColumn(Column column, QObject *context, ColumnFollower follower);

    // "[HH:mm:ss] text" lines joined with "\n"; no trailing newline.
    static QString renderText(const QList<DialogueEntry> &rows, bool useDialogueLabels, bool includeTimestamps);
    // The time of a row as "HH:mm:ss", 24-hour, local time.
    static QString transcriptTimestamp(const QDateTime &date);

Q_SIGNALS:
    void rowInserted(PublishedTranscript::Column column, int row);
    void rowChanged(PublishedTranscript::Column column, int row);
    void rowRemoved(PublishedTranscript::Column column, int row);
    void rowsReset(PublishedTranscript::Column column);
    void transcriptEntriesChanged();
    void translationEntriesChanged();
    void subtitlesTextChanged();
    void translatedTextChanged();
    // The column's text changed from character `from` on; what comes before it is as it was.
    // Emitted before the column's other signals.
    void textEdited(PublishedTranscript::Column column, qsizetype from);

private:
    struct ColumnRows
    {
        std::vector<DialogueEntry> rows;
        // The turn each row comes from, ascending.
        std::vector<int> turnIndexes;
        int rowsWithSpeaker = 0;
        // The rendered column and the length of each row's line in it; while it is valid a
        // changed row replaces its own line, so the text is never rendered anew for one row.
        mutable QString textCache;
        mutable std::vector<qsizetype> lineLengths;
        mutable bool textValid = true;
        mutable QList<DialogueEntry> entriesCache;
        mutable bool entriesValid = true;

        // A stale copy of the rows is not kept until the next read: it would hold a row's worth
        // of memory per turn for nothing.
        void dropEntries()
        {
            entriesCache = QList<DialogueEntry>();
            entriesValid = false;
        }
    };

    ColumnRows &columnRows(Column column) { return column == Column::transcript ? m_transcript : m_translation; }
    const ColumnRows &columnRows(Column column) const
    {
        return column == Column::transcript ? m_transcript : m_translation;
    }

    void onTurnChanged(int index);
    void onTurnRemoved(int index);
    // Brings the rows of one turn in line with the turn.
    void syncTurn(int index);
    void syncRow(Column column, int turnIndex, const std::optional<DialogueEntry> &wanted);
    bool tidySpeakerLabels(int index);
    std::optional<DialogueEntry> rowFor(Column column, int turnIndex);
    // Edits of a valid rendered text, for a row that is replaced, inserted or removed.
    // Each returns where the text began to differ.
    static qsizetype lineStart(const ColumnRows &rows, int row);
    static qsizetype replaceLine(ColumnRows &rows, int row, const DialogueEntry &entry);
    static qsizetype insertLine(ColumnRows &rows, int row, const DialogueEntry &entry);
    static qsizetype removeLine(ColumnRows &rows, int row);
    void announce(Column column);

    SessionTurnStore *m_turns;
    ColumnRows m_transcript;
    ColumnRows m_translation;
};

#include "session/PublishedTranscript.h"

#include "base/Text.h"
#include "base/VectorRoom.h"
#include "session/SessionTurnStore.h"

#include <QLocale>

#include <algorithm>

namespace {

QString renderLine(const DialogueEntry &row, bool includeTimestamps)
{
    if (!includeTimestamps)
        return row.text;
    return u'[' + PublishedTranscript::transcriptTimestamp(row.timestamp) + QStringLiteral("] ") + row.text;
}

// A rendered column lives as long as the session and grows a line at a time: it grows by an
// eighth, not by the doubling an append does, which would leave up to half of it unused.
// Copies of it are handed out, so an edit often copies it anyway; that copy is sized alike.
void makeRoom(QString &text, qsizetype extra)
{
    const qsizetype needed = text.size() + std::max<qsizetype>(extra, 0);
    if (needed > text.capacity() || !text.isDetached())
        text.reserve(needed + needed / 8);
}

} // namespace

PublishedTranscript::PublishedTranscript(SessionTurnStore *turns, QObject *parent)
    : QObject(parent)
    , m_turns(turns)
{
    connect(turns, &SessionTurnStore::turnChanged, this, &PublishedTranscript::onTurnChanged);
    connect(turns, &SessionTurnStore::turnClosed, this, &PublishedTranscript::onTurnChanged);
    connect(turns, &SessionTurnStore::turnRemoved, this, &PublishedTranscript::onTurnRemoved);
    connect(turns, &SessionTurnStore::turnsReset, this, &PublishedTranscript::rebuildPublishedState);
    rebuildPublishedState();
}

void PublishedTranscript::followColumn(Column column, QObject *context, ColumnFollower follower)
{
    connect(this, &PublishedTranscript::rowInserted, context, [column, call = follower.inserted](Column changed, int row) {
        if (changed == column)
            call(row);
    });
    connect(this, &PublishedTranscript::rowChanged, context, [column, call = follower.changed](Column changed, int row) {
        if (changed == column)
            call(row);
    });
    connect(this, &PublishedTranscript::rowRemoved, context, [column, call = follower.removed](Column changed, int row) {
        if (changed == column)
            call(row);
    });
    connect(this, &PublishedTranscript::rowsReset, context, [column, call = follower.reset](Column changed) {
        if (changed == column)
            call();
    });
}

int PublishedTranscript::rowCount(Column column) const
{
    return int(columnRows(column).rows.size());
}

const DialogueEntry &PublishedTranscript::row(Column column, int index) const
{
    return columnRows(column).rows[std::size_t(index)];
}

QList<DialogueEntry> PublishedTranscript::entries(Column column) const
{
    const ColumnRows &rows = columnRows(column);
    if (!rows.entriesValid) {
        rows.entriesCache = QList<DialogueEntry>(rows.rows.begin(), rows.rows.end());
        rows.entriesValid = true;
    }
    return rows.entriesCache;
}

QString PublishedTranscript::text(Column column) const
{
    const ColumnRows &rows = columnRows(column);
    if (!rows.textValid) {
        rows.textCache.clear();
        rows.lineLengths.clear();
        rows.lineLengths.reserve(rows.rows.size());
        for (const DialogueEntry &row : rows.rows) {
            const QString line = renderLine(row, true);
            if (!rows.lineLengths.empty())
                rows.textCache += u'\n';
            rows.textCache += line;
            rows.lineLengths.push_back(line.size());
        }
        rows.textCache.squeeze();
        rows.textValid = true;
    }
    return rows.textCache;
}

bool PublishedTranscript::showsDialogueMode(Column column) const
{
    return columnRows(column).rowsWithSpeaker > 0;
}

QString PublishedTranscript::renderText(const QList<DialogueEntry> &rows, bool useDialogueLabels, bool includeTimestamps)
{
    // Rows carry no speaker labels any more, so there is nothing to label them with.
    Q_UNUSED(useDialogueLabels);
    QStringList lines;
    lines.reserve(rows.size());
    for (const DialogueEntry &row : rows)
        lines.append(renderLine(row, includeTimestamps));
    return lines.join(u'\n');
}

QString PublishedTranscript::transcriptTimestamp(const QDateTime &date)
{
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("HH:mm:ss"));
}

void PublishedTranscript::rebuildPublishedState()
{
    {
        const QSignalBlocker blocker(m_turns);
        for (int i = 0; i < m_turns->count(); ++i)
            tidySpeakerLabels(i);
    }
    m_turns->clearSpeakerMaps();
    for (Column column : {Column::transcript, Column::translation}) {
        ColumnRows &rows = columnRows(column);
        // A column is rebuilt when a session is restored, replaced or cleared: it is sized for
        // the turns at hand, not kept at the room of a longer session before it.
        VectorRoom::release(rows.rows);
        VectorRoom::release(rows.turnIndexes);
        rows.rows.reserve(std::size_t(m_turns->count()));
        rows.turnIndexes.reserve(std::size_t(m_turns->count()));
        rows.rowsWithSpeaker = 0;
        for (int i = 0; i < m_turns->count(); ++i) {
            if (auto entry = rowFor(column, i)) {
                rows.rowsWithSpeaker += entry->speakerNumber ? 1 : 0;
                rows.rows.push_back(std::move(*entry));
                rows.turnIndexes.push_back(i);
            }
        }
        // Rendered again when read; until then the old column holds no memory.
        rows.textCache.clear();
        VectorRoom::release(rows.lineLengths);
        rows.textValid = false;
        rows.dropEntries();
        Q_EMIT textEdited(column, 0);
        Q_EMIT rowsReset(column);
        announce(column);
    }
}

void PublishedTranscript::onTurnChanged(int index)
{
    if (tidySpeakerLabels(index))
        return; // the edits of the tidy-up came back through here already
    syncTurn(index);
}

void PublishedTranscript::onTurnRemoved(int index)
{
    for (Column column : {Column::transcript, Column::translation}) {
        ColumnRows &rows = columnRows(column);
        syncRow(column, index, std::nullopt);
        for (int &turnIndex : rows.turnIndexes) {
            if (turnIndex > index)
                --turnIndex;
        }
    }
}

void PublishedTranscript::syncTurn(int index)
{
    if (index < 0 || index >= m_turns->count())
        return;
    syncRow(Column::transcript, index, rowFor(Column::transcript, index));
    syncRow(Column::translation, index, rowFor(Column::translation, index));
}

void PublishedTranscript::syncRow(Column column, int turnIndex, const std::optional<DialogueEntry> &wanted)
{
    ColumnRows &rows = columnRows(column);
    const auto position = std::lower_bound(rows.turnIndexes.begin(), rows.turnIndexes.end(), turnIndex);
    const int rowIndex = int(position - rows.turnIndexes.begin());
    const bool exists = position != rows.turnIndexes.end() && *position == turnIndex;
    // A text not rendered since it was reset is rendered whole when read.
    qsizetype editedFrom = 0;

    if (wanted && exists) {
        DialogueEntry &current = rows.rows[std::size_t(rowIndex)];
        if (current == *wanted)
            return;
        rows.rowsWithSpeaker += (wanted->speakerNumber ? 1 : 0) - (current.speakerNumber ? 1 : 0);
        current = *wanted;
        if (rows.textValid)
            editedFrom = replaceLine(rows, rowIndex, current);
        rows.dropEntries();
        Q_EMIT textEdited(column, editedFrom);
        Q_EMIT rowChanged(column, rowIndex);
    } else if (wanted) {
        // The line goes in before the row, while the lines still match the rows.
        if (rows.textValid)
            editedFrom = insertLine(rows, rowIndex, *wanted);
        VectorRoom::makeRoom(rows.rows);
        rows.rows.insert(rows.rows.begin() + rowIndex, *wanted);
        // (The room may move the vector: the row index stands in for the position.)
        VectorRoom::makeRoom(rows.turnIndexes);
        rows.turnIndexes.insert(rows.turnIndexes.begin() + rowIndex, turnIndex);
        rows.rowsWithSpeaker += wanted->speakerNumber ? 1 : 0;
        rows.dropEntries();
        Q_EMIT textEdited(column, editedFrom);
        Q_EMIT rowInserted(column, rowIndex);
    } else if (exists) {
        rows.rowsWithSpeaker -= rows.rows[std::size_t(rowIndex)].speakerNumber ? 1 : 0;
        if (rows.textValid)
            editedFrom = removeLine(rows, rowIndex);
        rows.rows.erase(rows.rows.begin() + rowIndex);
        rows.turnIndexes.erase(position);
        rows.dropEntries();
        Q_EMIT textEdited(column, editedFrom);
        Q_EMIT rowRemoved(column, rowIndex);
    } else {
        return;
    }
    announce(column);
}

bool PublishedTranscript::tidySpeakerLabels(int index)
{
    if (index < 0 || index >= m_turns->count())
        return false;
    const SessionTurn &turn = m_turns->at(index);
    if (!turn.speakerLabel && !turn.translationSpeakerLabel)
        return false;
    QString translation = turn.translationText;
    const bool hasSourceLabel = Text::nilIfEmpty(turn.speakerLabel).has_value();
    if (!hasSourceLabel) {
        if (const auto label = Text::nilIfEmpty(turn.translationSpeakerLabel)) {
            const QString trimmedTranslation = Text::trimmed(translation);
            translation = trimmedTranslation.isEmpty() ? *label : *label + QStringLiteral(": ") + trimmedTranslation;
        }
    }
    m_turns->setSpeakerLabels(index, std::nullopt, std::nullopt);
    m_turns->setTranslationText(index, translation);
    return true;
}

std::optional<DialogueEntry> PublishedTranscript::rowFor(Column column, int turnIndex)
{
    const SessionTurn &turn = m_turns->at(turnIndex);
    if (!turn.isClosed)
        return std::nullopt;
    const QString text = Text::trimmed(column == Column::transcript ? turn.text : turn.translationText);
    if (text.isEmpty())
        return std::nullopt;
    DialogueEntry entry;
    entry.id = turn.id;
    entry.speakerNumber = m_turns->speakerNumber(turn.speakerLabel);
    entry.text = text;
    entry.timestamp = turn.timestamp;
    entry.isDraft = false;
    return entry;
}

qsizetype PublishedTranscript::lineStart(const ColumnRows &rows, int row)
{
    // Counted from the end: rows change near the end of a session far more than near its start.
    const int count = int(rows.lineLengths.size());
    qsizetype tail = 0;
    for (int k = row; k < count; ++k)
        tail += rows.lineLengths[std::size_t(k)];
    return rows.textCache.size() - tail - (count - 1 - row);
}

qsizetype PublishedTranscript::replaceLine(ColumnRows &rows, int row, const DialogueEntry &entry)
{
    const QString line = renderLine(entry, true);
    qsizetype &length = rows.lineLengths[std::size_t(row)];
    makeRoom(rows.textCache, line.size() - length);
    const qsizetype start = lineStart(rows, row);
    rows.textCache.replace(start, length, line);
    length = line.size();
    return start;
}

qsizetype PublishedTranscript::insertLine(ColumnRows &rows, int row, const DialogueEntry &entry)
{
    const QString line = renderLine(entry, true);
    makeRoom(rows.textCache, line.size() + 1);
    qsizetype start = rows.textCache.size();
    if (row == int(rows.lineLengths.size())) {
        if (!rows.lineLengths.empty())
            rows.textCache += u'\n';
        rows.textCache += line;
    } else {
        start = lineStart(rows, row);
        rows.textCache.insert(start, line + u'\n');
    }
    VectorRoom::makeRoom(rows.lineLengths);
    rows.lineLengths.insert(rows.lineLengths.begin() + row, line.size());
    return start;
}

qsizetype PublishedTranscript::removeLine(ColumnRows &rows, int row)
{
    const int count = int(rows.lineLengths.size());
    qsizetype start = lineStart(rows, row);
    const qsizetype length = rows.lineLengths[std::size_t(row)];
    if (count == 1) {
        rows.textCache.clear();
    } else if (row == count - 1) {
        --start; // the newline before the last line
        rows.textCache.remove(start, length + 1);
    } else {
        rows.textCache.remove(start, length + 1);
    }
    rows.lineLengths.erase(rows.lineLengths.begin() + row);
    return start;
}

void PublishedTranscript::announce(Column column)
{
    if (column == Column::transcript) {
        Q_EMIT transcriptEntriesChanged();
        Q_EMIT subtitlesTextChanged();
    } else {
        Q_EMIT translationEntriesChanged();
        Q_EMIT translatedTextChanged();
    }
}

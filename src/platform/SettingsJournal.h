#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <utility>
#include <vector>

// The edits made to the large data values of a settings file since the file was last written
// whole, kept in a file beside it (<settings file>.journal) so that a change of a value of
// megabytes writes what changed, not the whole file again.
//
// The journal is a run of records, each framed and checksummed on its own. For each key a
// base record names the value the edits apply to (its length and digest, as the settings file
// holds it); edit records follow, each the edits of one change. A record torn by a crash, or
// anything unreadable after the last good record, ends the journal there: what it held before
// is still whole. A base that no longer matches the settings file (the file was rewritten with
// the edits folded in, and the process ended before the journal was removed) makes the key's
// edits void, as they are in the file already.
//
// Not thread-safe: the owner serialises the calls.
class SettingsJournal final
{
public:
    // Replaces `removed` bytes at `offset` with `inserted`. The offsets of the edits of one
    // change are in the value as it stands after the edits before them were made.
    struct Edit
    {
        qsizetype offset = 0;
        qsizetype removed = 0;
        QByteArray inserted;

        bool operator==(const Edit &) const = default;
    };
    using Edits = std::vector<Edit>;

    // What the journal holds for one key.
    struct Entry
    {
        qsizetype baseLength = 0;
        QByteArray baseDigest;
        // One element a change, in order.
        std::vector<std::pair<qsizetype, Edits>> changes; // the length edited, its edits
    };

    explicit SettingsJournal(QString settingsPath);
    ~SettingsJournal();

    QString path() const { return m_path; }
    // Bytes in the journal file (0 without one).
    qsizetype size() const;

    // The records up to the first bad one, by key.
    std::map<QString, Entry> read() const;
    // Appends the base of a key's edits. False when it could not be written whole.
    bool appendBase(const QString &key, const QByteArray &value);
    // Appends one change of a key: its edits of a value of `length` bytes.
    bool appendChange(const QString &key, qsizetype length, const Edits &edits);
    // Removes the journal file.
    void clear();

    // The value with the entry's changes made, or nothing when the base is not `base`. Changes
    // that do not fit the value as it stands then (a damaged journal) end the run there.
    static std::optional<QByteArray> replay(const Entry &entry, const QByteArray &base);
    // Makes the edits; false (and the value unchanged) when one falls outside it.
    static bool apply(QByteArray &value, const Edits &edits);
    // The length of a value of `length` bytes after the edits, or nothing when one falls outside.
    static std::optional<qsizetype> editedLength(qsizetype length, const Edits &edits);
    static QByteArray digest(const QByteArray &value);

private:
    bool append(const QByteArray &payload);

    QString m_path;
    // Open for appending from the first record on; a plain descriptor, as the owner's calls come
    // from more than one thread.
    int m_descriptor = -1;
    bool m_broken = false;
};

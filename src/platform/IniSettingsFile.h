#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <map>
#include <optional>
#include <set>

// The settings file, in the INI dialect QSettings reads and writes, read and written by us.
//
// QSettings keeps every value of a file in a process-wide cache (even after the last QSettings
// object of the file is gone) and writes the file from that cache, escaping it one character at a
// time. For the session draft, a value of megabytes, that is a second copy in memory and most of
// the cost of writing it. Here a large value stays where it is, in the
// file, and is read back when asked for; the file is written by splicing, not re-escaping, it.
//
// Only the General section is ours (every key of the settings layer lives there); other sections,
// and keys of it whose values are none of ours, are carried over as they are. Keys and values
// are escaped as QSettings escapes them, so files stay readable both ways. Not thread-safe: the
// owner serialises the calls.
class IniSettingsFile final
{
public:
    explicit IniSettingsFile(QString path);

    QString path() const { return m_path; }

    // Reads the file. Values up to keepLimit characters come back in values; longer ones are only
    // named in large (read them with readValue()). A missing file is an empty one.
    void load(qsizetype keepLimit, std::map<QString, QString> &values, std::set<QString> &large);

    // The value of one key as the file holds it now.
    std::optional<QString> readValue(const QString &key) const;

    // Changes of the General section: each key's escaped value, or nothing to remove it.
    using Changes = std::map<QString, std::optional<QByteArray>>;

    // Replaces the file (atomically, the folder synced after it; see PrivateFiles::replace) with
    // the changes made to what the file holds at that moment: every other line is carried over as
    // it is (keys written by another process, values that are none of ours, other sections). The
    // file's lock, the one QSettings takes, is held from the read to the replacement, so writers
    // on both sides merge rather than overwrite each other. On success the result is read back
    // into values and large as load() does. False when it could not be written.
    bool write(const Changes &changes, qsizetype keepLimit, std::map<QString, QString> &values,
               std::set<QString> &large);

    // One value in the file's escaped form; a text tagged "x:" (data) takes the byte-array form.
    static QByteArray escapedValue(const QString &text);
    // A byte array's value ("@ByteArray(…)") in the escaped form.
    static QByteArray escapedData(const QByteArray &bytes);
    // The text of an escaped value, or nothing for a value that is none of ours (a list, a
    // variant of another type).
    static std::optional<QString> unescapedValue(QByteArrayView escaped);
    static QByteArray escapedKey(const QString &key);
    static QString unescapedKey(QByteArrayView escaped);

private:
    struct Line
    {
        QString key;
        QByteArrayView value; // into the file's bytes
    };
    // Calls visit for every key line of the General section; keeps the other sections in others.
    template<typename Visit>
    static void scan(const QByteArray &file, Visit visit, QByteArray *others);
    QByteArray readAll() const;
    // Files a value as load() does.
    static void keep(const QString &key, QByteArrayView value, qsizetype keepLimit, std::map<QString, QString> &values,
                     std::set<QString> &large);

    QString m_path;
};

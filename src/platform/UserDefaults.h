#pragma once

#include "platform/SettingsJournal.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <chrono>
#include <memory>
#include <optional>

// A typed key-value store for user preferences, kept in a settings file (in the INI dialect of
// QSettings). Values keep their type: a Bool is read back as a Bool, and a String is never read
// as a Bool. Every instance over the same file sees every change and emits valueChanged for it.
// Changes reach the disk on the next turn of the event loop (or at sync()). A large value (the
// session draft) is not held in memory: it is read back from the file when asked for; its
// changes can be written as edits (a journal beside the file) instead of the whole file again.
//
// A change that cannot be written (a full disk) is kept and read back as set; it is written with
// the next write, or by a retry on a timer, and writeFailingChanged tells the readers while
// writes fail. A write merges this process's changes into the file as it stands, under the lock
// QSettings takes. The first process over a file holds it for the life of its store; another one
// reads and writes its values but leaves the journal to the first (isHeldByAnotherProcess()).
// A holder on its way out says so (announceRelease()), so that a process starting meanwhile
// can wait for the file instead of sharing it (waitForAnnouncedRelease()).
//
// The file holds meetings and the account's id: it, everything written beside it and its folder
// are the user's alone (see PrivateFiles), whatever the umask.
class UserDefaults final : public QObject
{
    Q_OBJECT

public:
    enum class Type { Missing, Bool, Integer, Double, String, Data };

    // The program's standard store (~/.config/<bundle id>/preferences.ini).
    explicit UserDefaults(QObject *parent = nullptr);
    // A store over the given file; tests pass a temporary file.
    explicit UserDefaults(const QString &filePath, QObject *parent = nullptr);
    ~UserDefaults() override;

    QString filePath() const;

    Type typeOf(const QString &key) const;
    bool contains(const QString &key) const { return typeOf(key) != Type::Missing; }

    // Each reader answers only for a value of its own type (an Integer is also a Double).
    std::optional<bool> boolValue(const QString &key) const;
    std::optional<qint64> integerValue(const QString &key) const;
    std::optional<double> doubleValue(const QString &key) const;
    std::optional<QString> stringValue(const QString &key) const;
    std::optional<QByteArray> dataValue(const QString &key) const;

    // Conveniences with a default for a missing or differently typed value.
    bool boolValue(const QString &key, bool fallback) const { return boolValue(key).value_or(fallback); }
    qint64 integerValue(const QString &key, qint64 fallback) const { return integerValue(key).value_or(fallback); }
    double doubleValue(const QString &key, double fallback) const { return doubleValue(key).value_or(fallback); }
    QString stringValue(const QString &key, const QString &fallback) const { return stringValue(key).value_or(fallback); }

    void setBool(const QString &key, bool value);
    void setInteger(const QString &key, qint64 value);
    void setDouble(const QString &key, double value);
    void setString(const QString &key, const QString &value);
    // False when the value could not be written: it is kept and tried again. A small value is
    // written later (see sync()) and counts as written here.
    bool setData(const QString &key, const QByteArray &value);
    // Changes a large data value (one written with setData) of `length` bytes by edits, writing
    // only them. False when nothing was done: the value is not such a one, is not `length` bytes
    // long, or is due to be written whole; setData it then.
    bool editData(const QString &key, qsizetype length, const SettingsJournal::Edits &edits);
    void remove(const QString &key);

    // Writes pending changes to disk. False when some could not be written: they are kept and
    // tried again.
    bool sync();
    // The last write failed, and changes wait to be written.
    bool isWriteFailing() const;
    // Another process holds this settings file: two copies of the program share it.
    bool isHeldByAnotherProcess() const;
    // This process holds the file and lets it go soon (the program is quitting).
    void announceRelease();
    // Before a store over `filePath` is made: while another process holds the file and has
    // announced its release, waits for that, at most `limit`. True when the file is free now;
    // false when a process that stays holds it, or the limit passed.
    static bool waitForAnnouncedRelease(const QString &filePath, std::chrono::milliseconds limit);
    // The file of the program's standard store.
    static QString standardFilePath();
    // The wait before the first retry of a failed write, doubled for each next one up to longest.
    void setWriteRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest);

    class WorkerWriter;

Q_SIGNALS:
    void valueChanged(const QString &key);
    // Writes began failing (true) or succeed again (false).
    void writeFailingChanged(bool failing);

public:
    struct Backend; // shared by all instances over one file

private:
    void write(const QString &key, const QString &text);
    std::optional<QString> read(const QString &key) const;

    std::shared_ptr<Backend> m_backend;
};

// Writes values of one settings file from a worker thread, so that writing a large value (and
// the whole file with it) never holds up the main thread. Create, use and destroy it on the
// worker thread. Every UserDefaults over the same file reads the new value as soon as setData
// returns (one guarded store per file); their valueChanged follows on the main thread, after
// sync().
class UserDefaults::WorkerWriter final
{
public:
    explicit WorkerWriter(const QString &filePath);
    ~WorkerWriter();

    // Writes the value to the file; false when it could not be (as UserDefaults::setData).
    bool setData(const QString &key, const QByteArray &value);
    // As UserDefaults::editData.
    bool editData(const QString &key, qsizetype length, const SettingsJournal::Edits &edits);
    // The readers hear of the keys set since the last sync. False when changes wait to be written.
    bool sync();

private:
    std::shared_ptr<Backend> m_backend;
    QStringList m_changedKeys;
};

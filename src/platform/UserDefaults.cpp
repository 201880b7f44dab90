#include "platform/UserDefaults.h"
#include "platform/ApplicationInfo.h"
#include "platform/IniSettingsFile.h"
#include "platform/SettingsJournal.h"
#include "base/KavrelDiagnostics.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

// Values are stored as text with a type tag ("b:true", "i:42", "d:0.5", "s:text",
// "x:<base64>") because the INI format turns every scalar into a string and would lose
// the difference between the Bool true and the String "true".
//
// Changes are written to the file on the next turn of the main thread's event loop, a burst of
// them at once (sync() and the last reader's end write at once). A value longer than
// largeValueCharacters (the session draft) is written at once and not kept here: it is read back
// from the file when asked for.
//
// A large data value changed by edits (editData) has them appended to the journal beside the
// file instead of the file being written again; the journal is folded into the file (the file
// written whole, then the journal removed) when the value is next written whole, when it is
// removed, when the file is opened and when its last user ends.
struct UserDefaults::Backend : std::enable_shared_from_this<UserDefaults::Backend>
{
    static constexpr qsizetype largeValueCharacters = 64 * 1024;

    explicit Backend(const QString &path) : file(path), journal(path)
    {
        file.load(largeValueCharacters, values, large);
        // What a crash left in the journal goes into the file before anything is appended.
        foldJournal();
    }
    ~Backend()
    {
        flush();
        const std::lock_guard lock(mutex);
        foldJournal();
    }
    // Guards values, large, the file and the journal: the draft is written from a worker thread.
    mutable std::mutex mutex;
    IniSettingsFile file;
    SettingsJournal journal;
    // The large values with edits in the journal, and the length each one has now.
    std::map<QString, qsizetype> journaled;
    std::map<QString, QString> values;
    std::set<QString> large;
    bool dirty = false;
    bool flushRequested = false;
    // Main thread only.
    std::vector<UserDefaults *> readers;

    static std::optional<QByteArray> decodedData(const std::optional<QString> &text)
    {
        if (!text || !text->startsWith(QLatin1String("x:")))
            return std::nullopt;
        return QByteArray::fromBase64(QStringView(*text).sliced(2).toLatin1());
    }
    static QByteArray taggedData(const QByteArray &value) { return QByteArrayLiteral("x:") + value.toBase64(); }

    std::optional<QString> text(const QString &key) const
    {
        const std::lock_guard lock(mutex);
        const auto found = values.find(key);
        if (found != values.end())
            return found->second;
        if (!large.count(key))
            return std::nullopt;
        if (!journaled.count(key))
            return file.readValue(key);
        const std::optional<QByteArray> value = journaledValue(key);
        return value ? std::optional<QString>(QString::fromLatin1(taggedData(*value))) : std::nullopt;
    }
    // With the mutex held: the file's value of a journaled key with the journal's edits made.
    std::optional<QByteArray> journaledValue(const QString &key) const
    {
        const std::optional<QByteArray> base = decodedData(file.readValue(key));
        const std::map<QString, SettingsJournal::Entry> entries = journal.read();
        const auto entry = entries.find(key);
        if (!base || entry == entries.end())
            return base;
        return SettingsJournal::replay(entry->second, *base).value_or(*base);
    }
    // With the mutex held (or before the backend is shared): writes the file with the journal's
    // edits made, then removes the journal. A crash between the two leaves a journal whose bases
    // no longer match the file, which is then void.
    void foldJournal()
    {
        journaled.clear();
        std::map<QString, QByteArray> folded;
        std::map<QString, qsizetype> lengths;
        for (const auto &[key, entry] : journal.read()) {
            // A value written whole names itself in the journal with no edits after it.
            if (entry.changes.empty() || !large.count(key))
                continue;
            const std::optional<QByteArray> base = decodedData(file.readValue(key));
            if (!base)
                continue; // removed since
            const std::optional<QByteArray> value = SettingsJournal::replay(entry, *base);
            if (value && *value != *base) {
                folded[key] = IniSettingsFile::escapedData(taggedData(*value));
                lengths[key] = value->size();
            }
        }
        if (!folded.empty() && !writeLarge(folded)) {
            // The journal still holds the edits: the values are read with them made, and the
            // next edits go on from there.
            journaled = std::move(lengths);
            return;
        }
        journal.clear();
    }
    // Sets (or, without a text, removes) the value and writes the file. False when nothing changed.
    bool store(const QString &key, const std::optional<QString> &text)
    {
        const std::lock_guard lock(mutex);
        const auto found = values.find(key);
        if (!text) {
            if (found == values.end() && !large.count(key))
                return false;
            values.erase(key);
            if (large.erase(key)) {
                // A large value (the draft of a finished session) leaves the file at once, and its
                // edits the journal after it.
                journaled.erase(key);
                if (writeLarge({}) && journaled.empty())
                    journal.clear();
                return true;
            }
        } else {
            if (found != values.end() && found->second == *text)
                return false;
            large.erase(key);
            journaled.erase(key);
            values[key] = *text;
        }
        dirty = true;
        requestFlush();
        return true;
    }
    void flush()
    {
        const std::lock_guard lock(mutex);
        flushRequested = false;
        if (dirty)
            writeLarge({});
    }
    // With the mutex held.
    void requestFlush()
    {
        QCoreApplication *application = QCoreApplication::instance();
        if (!application) {
            writeLarge({});
            return;
        }
        if (flushRequested)
            return;
        flushRequested = true;
        const std::weak_ptr<Backend> weak = weak_from_this();
        QMetaObject::invokeMethod(application, [weak] {
            if (const std::shared_ptr<Backend> backend = weak.lock())
                backend->flush();
        }, Qt::QueuedConnection);
    }
    // A data value: a large one goes to the file alone and is forgotten here.
    bool storeData(const QString &key, const QByteArray &value)
    {
        const QByteArray tagged = taggedData(value);
        if (tagged.size() <= largeValueCharacters)
            return store(key, QString::fromLatin1(tagged));
        const std::lock_guard lock(mutex);
        values.erase(key);
        large.insert(key);
        // The file is written whole: the journal's edits of the other values go into it too.
        std::map<QString, QByteArray> written;
        for (const auto &[other, length] : journaled) {
            if (other == key)
                continue; // replaced, not replayed
            if (const std::optional<QByteArray> current = journaledValue(other))
                written[other] = IniSettingsFile::escapedData(taggedData(*current));
        }
        written[key] = IniSettingsFile::escapedData(tagged);
        if (!writeLarge(written)) {
            // Not written: the file and the journal still hold the value as it was. Its caller
            // takes the new one as stored, so no edit may be made to the old one, whatever its
            // length, until a whole value is written again.
            journaled[key] = -1;
            return true;
        }
        journaled.clear();
        journal.clear();
        // The next edits apply to this value.
        if (journal.appendBase(key, value))
            journaled[key] = value.size();
        return true;
    }
    // Makes the edits of a large data value of `length` bytes. False when they were not made:
    // the value is not a large one as long as that, or the journal is due to be folded; the
    // caller then writes the value whole.
    bool editData(const QString &key, qsizetype length, const SettingsJournal::Edits &edits)
    {
        const std::lock_guard lock(mutex);
        if (!large.count(key))
            return false;
        auto found = journaled.find(key);
        if (found == journaled.end()) {
            // The first edits since the file was opened: the journal names the value they edit.
            const std::optional<QByteArray> base = decodedData(file.readValue(key));
            if (!base || base->size() != length || !journal.appendBase(key, *base))
                return false;
            found = journaled.emplace(key, length).first;
        }
        const std::optional<qsizetype> newLength = SettingsJournal::editedLength(length, edits);
        // Folded once the journal has grown to half the value: reading the value back costs a
        // replay of every edit, and the file is written whole about once per half its size.
        constexpr qsizetype foldFloor = 256 * 1024;
        if (!newLength || found->second != length || journal.size() > std::max(foldFloor, *newLength / 2)
            || !journal.appendChange(key, length, edits))
            return false;
        found->second = *newLength;
        return true;
    }
    // With the mutex held: writes the file, with the large values given and the others as the
    // file holds them.
    bool writeLarge(const std::map<QString, QByteArray> &written)
    {
        dirty = false;
        std::map<QString, QByteArray> largeValues;
        for (const QString &key : large) {
            const auto found = written.find(key);
            largeValues[key] = found != written.end() ? found->second : QByteArray();
        }
        if (file.write(values, largeValues))
            return true;
        qCWarning(KavrelDiagnostics::app()).noquote() << "settings could not be written:" << file.path();
        return false;
    }
};

namespace {

std::mutex &backendsMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Guarded by backendsMutex().
std::map<QString, std::weak_ptr<UserDefaults::Backend>> &backends()
{
    static std::map<QString, std::weak_ptr<UserDefaults::Backend>> map;
    return map;
}

std::shared_ptr<UserDefaults::Backend> backendFor(const QString &path)
{
    const std::lock_guard lock(backendsMutex());
    auto &map = backends();
    const auto found = map.find(path);
    std::shared_ptr<UserDefaults::Backend> backend = found != map.end() ? found->second.lock() : nullptr;
    if (!backend) {
        backend = std::make_shared<UserDefaults::Backend>(path);
        map[path] = backend;
    }
    return backend;
}

QString standardPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QLatin1Char('/') + ApplicationInfo::bundleIdentifier() + QStringLiteral("/preferences.ini");
}

// QSettings treated '/' and '\' in keys as group separators, and files written by it are read
// the same way: keys stay escaped as they were.
QString settingsKey(const QString &key)
{
    QString escaped = key;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%25"));
    escaped.replace(QLatin1Char('/'), QStringLiteral("%2F"));
    escaped.replace(QLatin1Char('\\'), QStringLiteral("%5C"));
    return escaped;
}

// A receiver may destroy other readers (or the writer) while it handles the change.
void notifyReaders(const std::vector<UserDefaults *> &current, const QString &key)
{
    std::vector<QPointer<UserDefaults>> readers(current.begin(), current.end());
    for (const QPointer<UserDefaults> &reader : readers) {
        if (reader)
            Q_EMIT reader->valueChanged(key);
    }
}

} // namespace

UserDefaults::UserDefaults(QObject *parent)
    : UserDefaults(standardPath(), parent)
{
}

UserDefaults::UserDefaults(const QString &filePath, QObject *parent)
    : QObject(parent)
{
    const QString path = QFileInfo(filePath).absoluteFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_backend = backendFor(path);
    m_backend->readers.push_back(this);
}

UserDefaults::~UserDefaults()
{
    auto &readers = m_backend->readers;
    readers.erase(std::remove(readers.begin(), readers.end(), this), readers.end());
    // The last owner of the backend writes what is pending as it goes.
}

QString UserDefaults::filePath() const
{
    return m_backend->file.path();
}

std::optional<QString> UserDefaults::read(const QString &key) const
{
    const std::optional<QString> text = m_backend->text(settingsKey(key));
    if (!text || text->size() < 2 || text->at(1) != QLatin1Char(':'))
        return std::nullopt;
    return text;
}

void UserDefaults::write(const QString &key, const QString &text)
{
    if (m_backend->store(settingsKey(key), text))
        notifyReaders(m_backend->readers, key);
}

UserDefaults::Type UserDefaults::typeOf(const QString &key) const
{
    const auto text = read(key);
    if (!text)
        return Type::Missing;
    switch (text->at(0).unicode()) {
    case 'b': return Type::Bool;
    case 'i': return Type::Integer;
    case 'd': return Type::Double;
    case 's': return Type::String;
    case 'x': return Type::Data;
    default: return Type::Missing;
    }
}

std::optional<bool> UserDefaults::boolValue(const QString &key) const
{
    const auto text = read(key);
    if (!text || text->at(0) != QLatin1Char('b'))
        return std::nullopt;
    return text->mid(2) == QLatin1String("true");
}

std::optional<qint64> UserDefaults::integerValue(const QString &key) const
{
    const auto text = read(key);
    if (!text || text->at(0) != QLatin1Char('i'))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text->mid(2).toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<double> UserDefaults::doubleValue(const QString &key) const
{
    const auto text = read(key);
    if (!text || (text->at(0) != QLatin1Char('d') && text->at(0) != QLatin1Char('i')))
        return std::nullopt;
    bool ok = false;
    const double value = text->mid(2).toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

std::optional<QString> UserDefaults::stringValue(const QString &key) const
{
    const auto text = read(key);
    if (!text || text->at(0) != QLatin1Char('s'))
        return std::nullopt;
    return text->mid(2);
}

std::optional<QByteArray> UserDefaults::dataValue(const QString &key) const
{
    const auto text = read(key);
    if (!text || text->at(0) != QLatin1Char('x'))
        return std::nullopt;
    return QByteArray::fromBase64(text->mid(2).toLatin1());
}

void UserDefaults::setBool(const QString &key, bool value)
{
    write(key, value ? QStringLiteral("b:true") : QStringLiteral("b:false"));
}

void UserDefaults::setInteger(const QString &key, qint64 value)
{
    write(key, QStringLiteral("i:") + QString::number(value));
}

void UserDefaults::setDouble(const QString &key, double value)
{
    write(key, QStringLiteral("d:") + QString::number(value, 'g', 17));
}

void UserDefaults::setString(const QString &key, const QString &value)
{
    write(key, QStringLiteral("s:") + value);
}

void UserDefaults::setData(const QString &key, const QByteArray &value)
{
    if (m_backend->storeData(settingsKey(key), value))
        notifyReaders(m_backend->readers, key);
}

bool UserDefaults::editData(const QString &key, qsizetype length, const SettingsJournal::Edits &edits)
{
    if (!m_backend->editData(settingsKey(key), length, edits))
        return false;
    notifyReaders(m_backend->readers, key);
    return true;
}

void UserDefaults::remove(const QString &key)
{
    if (!read(key))
        return;
    if (m_backend->store(settingsKey(key), std::nullopt))
        notifyReaders(m_backend->readers, key);
}

void UserDefaults::sync()
{
    m_backend->flush();
}

UserDefaults::WorkerWriter::WorkerWriter(const QString &filePath)
    : m_backend(backendFor(QFileInfo(filePath).absoluteFilePath()))
{
}

UserDefaults::WorkerWriter::~WorkerWriter() = default;

void UserDefaults::WorkerWriter::setData(const QString &key, const QByteArray &value)
{
    m_backend->storeData(settingsKey(key), value);
    if (!m_changedKeys.contains(key))
        m_changedKeys.append(key);
}

bool UserDefaults::WorkerWriter::editData(const QString &key, qsizetype length, const SettingsJournal::Edits &edits)
{
    if (!m_backend->editData(settingsKey(key), length, edits))
        return false;
    if (!m_changedKeys.contains(key))
        m_changedKeys.append(key);
    return true;
}

void UserDefaults::WorkerWriter::sync()
{
    m_backend->flush();
    // The readers live on the main thread, and so does the table of them; they hear of the
    // change once the file holds it.
    QCoreApplication *application = QCoreApplication::instance();
    const QStringList keys = std::exchange(m_changedKeys, QStringList());
    if (!application || keys.isEmpty())
        return;
    const std::weak_ptr<Backend> weak = m_backend;
    QMetaObject::invokeMethod(application, [weak, keys] {
        if (const std::shared_ptr<Backend> backend = weak.lock()) {
            for (const QString &key : keys)
                notifyReaders(backend->readers, key);
        }
    }, Qt::QueuedConnection);
}

#include "platform/UserDefaults.h"
#include "platform/ApplicationInfo.h"
#include "platform/IniSettingsFile.h"
#include "platform/PrivateFiles.h"
#include "platform/SettingsJournal.h"
#include "base/KavrelDiagnostics.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// What the owner file holds while its holder is letting the settings file go.
const QByteArray releaseAnnouncement = QByteArrayLiteral("releasing\n");

QString ownerFilePath(const QString &settingsPath)
{
    return settingsPath + QStringLiteral(".owner");
}

} // namespace

// Values are stored as text with a type tag ("b:true", "i:42", "d:0.5", "s:text",
// "x:<base64>") because the INI format turns every scalar into a string and would lose
// the difference between the Bool true and the String "true".
//
// Changes are written to the file on the next turn of the main thread's event loop, a burst of
// them at once (sync() and the last reader's end write at once). A value longer than
// largeValueCharacters (the session draft) is written at once and not kept here: it is read back
// from the file when asked for. A write writes only this process's changes into the file as it
// then stands, under the lock QSettings takes, so keys another process wrote stay. A change that
// could not be written (a full disk) stays pending: it is read back as set, written with the next
// write, and tried again on a timer, each wait longer than the one before.
//
// A large data value changed by edits (editData) has them appended to the journal beside the
// file instead of the file being written again; the journal is folded into the file (the file
// written whole, then the journal removed) when the value is next written whole, when it is
// removed, when the file is opened and when its last user ends. Only the process that holds the
// file (see claimFile) keeps a journal; another one over the same file writes values whole and
// never touches the journal, which belongs to its writer.
struct UserDefaults::Backend : std::enable_shared_from_this<UserDefaults::Backend>
{
    static constexpr qsizetype largeValueCharacters = 64 * 1024;

    explicit Backend(const QString &path) : file(path), journal(path)
    {
        claimFile(path);
        file.load(largeValueCharacters, values, large);
        // What a crash left in the journal goes into the file before anything is appended.
        if (!heldElsewhere)
            foldJournal();
    }
    ~Backend()
    {
        {
            const std::lock_guard lock(mutex);
            writePending();
            if (!heldElsewhere)
                foldJournal();
        }
        if (ownerDescriptor >= 0)
            ::close(ownerDescriptor);
    }
    // Guards everything below but the readers: the draft is written from a worker thread.
    mutable std::mutex mutex;
    IniSettingsFile file;
    SettingsJournal journal;
    // Held (an flock on "<file>.owner") for the backend's life: one process per settings file.
    int ownerDescriptor = -1;
    // Another process holds the file.
    bool heldElsewhere = false;
    // The large values with edits in the journal, and the length each one has now.
    std::map<QString, qsizetype> journaled;
    std::map<QString, QString> values;
    std::set<QString> large;
    // Changes not in the file yet, kept until a write of them succeeds.
    IniSettingsFile::Changes pending;
    bool flushRequested = false;
    bool failing = false;
    bool retryScheduled = false;
    std::chrono::milliseconds firstRetryDelay{1000};
    std::chrono::milliseconds longestRetryDelay{60000};
    std::chrono::milliseconds nextRetryDelay{1000};
    // Main thread only.
    std::vector<UserDefaults *> readers;
    bool announcedFailing = false;

    void claimFile(const QString &path)
    {
        const int descriptor = PrivateFiles::open(ownerFilePath(path), O_RDWR);
        if (descriptor < 0)
            return; // a folder we cannot write to: nothing is written by anyone
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
            ownerDescriptor = descriptor;
            // What an earlier holder announced is not said of this one.
            [[maybe_unused]] const int cleared = ::ftruncate(descriptor, 0);
            return;
        }
        heldElsewhere = errno == EWOULDBLOCK;
        ::close(descriptor);
        if (heldElsewhere)
            qCWarning(KavrelDiagnostics::app()).noquote() << "settings file in use by another process:" << path;
    }

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
        const auto change = pending.find(key);
        if (change != pending.end())
            return change->second ? IniSettingsFile::unescapedValue(*change->second) : std::nullopt;
        if (!large.count(key))
            return std::nullopt;
        // Another process's journal is read, never written.
        if (!journaled.count(key) && !heldElsewhere)
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
        std::map<QString, qsizetype> lengths;
        for (const auto &[key, entry] : journal.read()) {
            // A value written whole names itself in the journal with no edits after it.
            if (entry.changes.empty() || !large.count(key) || pending.count(key))
                continue;
            const std::optional<QByteArray> base = decodedData(file.readValue(key));
            if (!base)
                continue; // removed since
            const std::optional<QByteArray> value = SettingsJournal::replay(entry, *base);
            if (value && *value != *base) {
                pending[key] = IniSettingsFile::escapedData(taggedData(*value));
                lengths[key] = value->size();
            }
        }
        // Not written: the folded values are pending, and the journal stays until they are in
        // the file.
        if (!lengths.empty() && !writePending())
            return;
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
            pending[key] = std::nullopt;
            if (large.erase(key)) {
                // A large value (the draft of a finished session) leaves the file at once, and its
                // edits the journal after it.
                journaled.erase(key);
                writePending();
                return true;
            }
        } else {
            if (found != values.end() && found->second == *text)
                return false;
            large.erase(key);
            journaled.erase(key);
            values[key] = *text;
            pending[key] = IniSettingsFile::escapedValue(*text);
        }
        requestFlush();
        return true;
    }
    // True when the file holds every change.
    bool flush()
    {
        const std::lock_guard lock(mutex);
        flushRequested = false;
        return writePending();
    }
    // With the mutex held.
    void requestFlush()
    {
        QCoreApplication *application = QCoreApplication::instance();
        if (!application) {
            writePending();
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
    // A data value: a large one goes to the file alone and is forgotten here once written. False
    // when a write of it failed (it stays pending).
    bool storeData(const QString &key, const QByteArray &value, bool &changed)
    {
        const QByteArray tagged = taggedData(value);
        if (tagged.size() <= largeValueCharacters) {
            changed = store(key, QString::fromLatin1(tagged));
            return true;
        }
        changed = true;
        const std::lock_guard lock(mutex);
        values.erase(key);
        large.insert(key);
        // The file is written whole: the journal's edits of the other values go into it too.
        for (const auto &[other, length] : journaled) {
            if (other == key || pending.count(other))
                continue; // replaced, not replayed
            if (const std::optional<QByteArray> current = journaledValue(other))
                pending[other] = IniSettingsFile::escapedData(taggedData(*current));
        }
        journaled.erase(key);
        pending[key] = IniSettingsFile::escapedData(tagged);
        // Not written: the value is pending, and no edit may be made to it until it is in the
        // file (editData refuses a pending value).
        if (!writePending())
            return false;
        journal.clear();
        // The next edits apply to this value.
        if (!heldElsewhere && journal.appendBase(key, value))
            journaled[key] = value.size();
        return true;
    }
    // Makes the edits of a large data value of `length` bytes. False when they were not made:
    // the value is not a large one as long as that, or the journal is due to be folded; the
    // caller then writes the value whole.
    bool editData(const QString &key, qsizetype length, const SettingsJournal::Edits &edits)
    {
        const std::lock_guard lock(mutex);
        if (heldElsewhere || !large.count(key) || pending.count(key))
            return false;
        // Changes made before the edits (the meeting's record beside the draft) reach the file
        // no later than the edits do.
        if (!writePending())
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
    // With the mutex held: writes the pending changes into the file. False (and they stay
    // pending, a retry scheduled) when it could not be written.
    bool writePending()
    {
        if (pending.empty())
            return true;
        if (!file.write(pending, largeValueCharacters, values, large)) {
            if (!failing)
                qCWarning(KavrelDiagnostics::app()).noquote() << "settings could not be written, kept to be tried again:"
                                                              << file.path();
            noteOutcome(false);
            return false;
        }
        for (const auto &[key, value] : pending)
            journaled.erase(key);
        pending.clear();
        // The journal's edits are all in the file now.
        if (!heldElsewhere && journaled.empty() && journal.size() > 0)
            journal.clear();
        noteOutcome(true);
        return true;
    }
    // With the mutex held.
    void noteOutcome(bool written)
    {
        if (written)
            nextRetryDelay = firstRetryDelay;
        else
            scheduleRetry();
        if (failing == !written)
            return;
        failing = !written;
        postAnnouncement();
    }
    // Once shared: a fold at the opening that could not be written is retried and told.
    void opened()
    {
        const std::lock_guard lock(mutex);
        if (!failing)
            return;
        scheduleRetry();
        postAnnouncement();
    }
    // With the mutex held.
    void postAnnouncement()
    {
        // The readers live on the main thread.
        if (QCoreApplication *application = QCoreApplication::instance()) {
            const std::weak_ptr<Backend> weak = weak_from_this();
            QMetaObject::invokeMethod(application, [weak] {
                if (const std::shared_ptr<Backend> backend = weak.lock())
                    backend->announceFailing();
            }, Qt::QueuedConnection);
        }
    }
    // With the mutex held.
    void scheduleRetry()
    {
        QCoreApplication *application = QCoreApplication::instance();
        const std::weak_ptr<Backend> weak = weak_from_this();
        // Not yet shared (a fold at the opening) or ending: the next write tries again.
        if (!application || retryScheduled || weak.expired())
            return;
        retryScheduled = true;
        const std::chrono::milliseconds delay = nextRetryDelay;
        nextRetryDelay = std::min(nextRetryDelay * 2, longestRetryDelay);
        // The timer starts on the main thread, whichever thread failed.
        QMetaObject::invokeMethod(application, [weak, delay, application] {
            QTimer::singleShot(delay, application, [weak] {
                const std::shared_ptr<Backend> backend = weak.lock();
                if (!backend)
                    return;
                {
                    const std::lock_guard lock(backend->mutex);
                    backend->retryScheduled = false;
                }
                backend->flush();
            });
        }, Qt::QueuedConnection);
    }
    // Main thread only.
    void announceFailing()
    {
        bool now = false;
        {
            const std::lock_guard lock(mutex);
            now = failing;
        }
        if (now == announcedFailing)
            return;
        announcedFailing = now;
        std::vector<QPointer<UserDefaults>> current(readers.begin(), readers.end());
        for (const QPointer<UserDefaults> &reader : current) {
            if (reader)
                Q_EMIT reader->writeFailingChanged(now);
        }
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
        backend->opened();
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
    // The folder holds meetings and the account's id: whatever made it looser, it is the user's
    // alone from now on.
    PrivateFiles::makeFolder(QFileInfo(path).absolutePath());
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

bool UserDefaults::setData(const QString &key, const QByteArray &value)
{
    bool changed = false;
    const bool written = m_backend->storeData(settingsKey(key), value, changed);
    if (changed)
        notifyReaders(m_backend->readers, key);
    return written;
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

bool UserDefaults::sync()
{
    return m_backend->flush();
}

bool UserDefaults::isWriteFailing() const
{
    const std::lock_guard lock(m_backend->mutex);
    return m_backend->failing;
}

bool UserDefaults::isHeldByAnotherProcess() const
{
    return m_backend->heldElsewhere;
}

void UserDefaults::announceRelease()
{
    const std::lock_guard lock(m_backend->mutex);
    if (m_backend->ownerDescriptor < 0)
        return;
    const ssize_t written = ::pwrite(m_backend->ownerDescriptor, releaseAnnouncement.constData(),
                                     size_t(releaseAnnouncement.size()), 0);
    if (written != releaseAnnouncement.size())
        qCWarning(KavrelDiagnostics::app()) << "the settings file's release could not be announced";
}

bool UserDefaults::waitForAnnouncedRelease(const QString &filePath, std::chrono::milliseconds limit)
{
    const QByteArray name = QFile::encodeName(ownerFilePath(QFileInfo(filePath).absoluteFilePath()));
    const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return true; // nobody ever held it
    const QDeadlineTimer deadline(limit);
    bool free = false;
    for (;;) {
        // Taken and given back at once: only the store that is made next holds it.
        if (::flock(descriptor, LOCK_SH | LOCK_NB) == 0) {
            ::flock(descriptor, LOCK_UN);
            free = true;
            break;
        }
        if (errno != EWOULDBLOCK)
            break;
        QByteArray said(releaseAnnouncement.size() + 1, '\0');
        const ssize_t count = ::pread(descriptor, said.data(), size_t(said.size()), 0);
        if (count != releaseAnnouncement.size() || said.first(count) != releaseAnnouncement || deadline.hasExpired())
            break;
        QThread::msleep(20);
    }
    ::close(descriptor);
    return free;
}

QString UserDefaults::standardFilePath()
{
    return QFileInfo(standardPath()).absoluteFilePath();
}

void UserDefaults::setWriteRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    const std::lock_guard lock(m_backend->mutex);
    m_backend->firstRetryDelay = first;
    m_backend->nextRetryDelay = first;
    m_backend->longestRetryDelay = longest;
}

UserDefaults::WorkerWriter::WorkerWriter(const QString &filePath)
    : m_backend(backendFor(QFileInfo(filePath).absoluteFilePath()))
{
}

UserDefaults::WorkerWriter::~WorkerWriter() = default;

bool UserDefaults::WorkerWriter::setData(const QString &key, const QByteArray &value)
{
    bool changed = false;
    const bool written = m_backend->storeData(settingsKey(key), value, changed);
    if (changed && !m_changedKeys.contains(key))
        m_changedKeys.append(key);
    return written;
}

bool UserDefaults::WorkerWriter::editData(const QString &key, qsizetype length, const SettingsJournal::Edits &edits)
{
    if (!m_backend->editData(settingsKey(key), length, edits))
        return false;
    if (!m_changedKeys.contains(key))
        m_changedKeys.append(key);
    return true;
}

bool UserDefaults::WorkerWriter::sync()
{
    const bool written = m_backend->flush();
    // The readers live on the main thread, and so does the table of them; they hear of the
    // change once the file holds it.
    QCoreApplication *application = QCoreApplication::instance();
    const QStringList keys = std::exchange(m_changedKeys, QStringList());
    if (!application || keys.isEmpty())
        return written;
    const std::weak_ptr<Backend> weak = m_backend;
    QMetaObject::invokeMethod(application, [weak, keys] {
        if (const std::shared_ptr<Backend> backend = weak.lock()) {
            for (const QString &key : keys)
                notifyReaders(backend->readers, key);
        }
    }, Qt::QueuedConnection);
    return written;
}

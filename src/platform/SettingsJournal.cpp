#include "platform/SettingsJournal.h"
#include "platform/PrivateFiles.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray recordMagic = QByteArrayLiteral("KVJ1");
constexpr qsizetype frameBytes = 4 + 4; // magic, payload length
constexpr qsizetype checksumBytes = 8;
constexpr char baseRecord = 'B';
constexpr char changeRecord = 'E';

QByteArray checksum(QByteArrayView payload)
{
    return QCryptographicHash::hash(payload, QCryptographicHash::Md5).first(checksumBytes);
}

QByteArray framed(const QByteArray &payload)
{
    QByteArray record;
    record.reserve(frameBytes + payload.size() + checksumBytes);
    QDataStream out(&record, QIODevice::WriteOnly);
    out.writeRawData(recordMagic.constData(), int(recordMagic.size()));
    out << quint32(payload.size());
    out.writeRawData(payload.constData(), int(payload.size()));
    const QByteArray sum = checksum(payload);
    out.writeRawData(sum.constData(), int(sum.size()));
    return record;
}

} // namespace

SettingsJournal::SettingsJournal(QString settingsPath)
    : m_path(settingsPath + QStringLiteral(".journal"))
{
}

SettingsJournal::~SettingsJournal()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

qsizetype SettingsJournal::size() const
{
    struct stat status = {};
    if (m_descriptor >= 0)
        return ::fstat(m_descriptor, &status) == 0 ? qsizetype(status.st_size) : 0;
    return QFile(m_path).size();
}

QByteArray SettingsJournal::digest(const QByteArray &value)
{
    return QCryptographicHash::hash(value, QCryptographicHash::Md5);
}

bool SettingsJournal::appendBase(const QString &key, const QByteArray &value)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << qint8(baseRecord) << key.toUtf8() << qint64(value.size()) << digest(value);
    return append(payload);
}

bool SettingsJournal::appendChange(const QString &key, qsizetype length, const Edits &edits)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << qint8(changeRecord) << key.toUtf8() << qint64(length) << quint32(edits.size());
    for (const Edit &edit : edits)
        out << qint64(edit.offset) << qint64(edit.removed) << edit.inserted;
    return append(payload);
}

bool SettingsJournal::append(const QByteArray &payload)
{
    if (m_descriptor < 0) {
        m_descriptor = PrivateFiles::open(m_path, O_WRONLY | O_APPEND);
        // A journal whose name a power cut takes with it takes its records along.
        if (m_descriptor >= 0)
            PrivateFiles::syncFolderOf(m_path);
    }
    if (m_descriptor < 0 || m_broken)
        return false;
    const qsizetype before = size();
    const QByteArray record = framed(payload);
    // The whole record, on the disk before the change counts as made: a crash leaves at most
    // this record torn, which the reader drops.
    qsizetype written = 0;
    while (written < record.size()) {
        const ssize_t count = ::write(m_descriptor, record.constData() + written, std::size_t(record.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        written += qsizetype(count);
    }
    if (written == record.size() && ::fdatasync(m_descriptor) == 0)
        return true;
    // Nothing may follow a torn record: the journal ends where it was whole, or takes no more
    // records until it is folded and begins anew.
    m_broken = ::ftruncate(m_descriptor, off_t(before)) != 0;
    return false;
}

void SettingsJournal::clear()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
    m_broken = false;
    QFile::remove(m_path);
}

std::map<QString, SettingsJournal::Entry> SettingsJournal::read() const
{
    std::map<QString, Entry> entries;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QByteArray bytes = file.readAll();
    qsizetype position = 0;
    while (position + frameBytes + checksumBytes <= bytes.size()) {
        if (QByteArrayView(bytes).sliced(position, 4) != recordMagic)
            break;
        QDataStream lengthIn(bytes.sliced(position + 4, 4));
        quint32 length = 0;
        lengthIn >> length;
        if (qsizetype(length) > bytes.size() - position - frameBytes - checksumBytes)
            break;
        const QByteArray payload = bytes.sliced(position + frameBytes, length);
        if (checksum(payload) != QByteArrayView(bytes).sliced(position + frameBytes + length, checksumBytes))
            break;
        position += frameBytes + length + checksumBytes;

        QDataStream in(payload);
        qint8 type = 0;
        QByteArray keyBytes;
        qint64 valueLength = 0;
        in >> type >> keyBytes >> valueLength;
        const QString key = QString::fromUtf8(keyBytes);
        if (type == baseRecord) {
            Entry entry;
            entry.baseLength = qsizetype(valueLength);
            in >> entry.baseDigest;
            if (in.status() != QDataStream::Ok)
                break;
            entries[key] = std::move(entry);
            continue;
        }
        quint32 count = 0;
        in >> count;
        Edits edits;
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
            qint64 offset = 0;
            qint64 removed = 0;
            Edit edit;
            in >> offset >> removed >> edit.inserted;
            edit.offset = qsizetype(offset);
            edit.removed = qsizetype(removed);
            edits.push_back(std::move(edit));
        }
        const auto found = entries.find(key);
        if (type != changeRecord || in.status() != QDataStream::Ok || found == entries.end())
            break;
        found->second.changes.emplace_back(qsizetype(valueLength), std::move(edits));
    }
    return entries;
}

std::optional<QByteArray> SettingsJournal::replay(const Entry &entry, const QByteArray &base)
{
    if (base.size() != entry.baseLength || digest(base) != entry.baseDigest)
        return std::nullopt;
    QByteArray value = base;
    for (const auto &[length, edits] : entry.changes) {
        if (length != value.size() || !apply(value, edits))
            break;
    }
    return value;
}

std::optional<qsizetype> SettingsJournal::editedLength(qsizetype length, const Edits &edits)
{
    for (const Edit &edit : edits) {
        if (edit.offset < 0 || edit.removed < 0 || edit.offset > length || edit.removed > length - edit.offset)
            return std::nullopt;
        length += edit.inserted.size() - edit.removed;
    }
    return length;
}

bool SettingsJournal::apply(QByteArray &value, const Edits &edits)
{
    // All of a change or none of it.
    if (!editedLength(value.size(), edits))
        return false;
    for (const Edit &edit : edits)
        value.replace(edit.offset, edit.removed, edit.inserted);
    return true;
}

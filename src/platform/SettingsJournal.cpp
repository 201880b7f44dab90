#include "platform/SettingsJournal.h"

#include <QCryptographicHash>
#include <QDataStream>

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
    , m_file(m_path)
{
}

SettingsJournal::~SettingsJournal() = default;

qsizetype SettingsJournal::size() const
{
    return m_file.isOpen() ? m_file.size() : QFile(m_path).size();
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
    if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const qsizetype before = m_file.size();
    const QByteArray record = framed(payload);
    // One write of the whole record, on the disk before the change counts as made: a crash
    // leaves at most this record torn, which the reader drops.
    const bool written = m_file.write(record) == record.size() && m_file.flush() && ::fdatasync(m_file.handle()) == 0;
    if (!written) {
        // Nothing may follow a torn record: the journal ends where it was whole.
        m_file.resize(before);
        m_file.seek(before);
    }
    return written;
}

void SettingsJournal::clear()
{
    m_file.close();
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

#include "platform/UserDefaults.h"
#include "platform/ApplicationInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

// Values are stored as text with a type tag ("b:true", "i:42", "d:0.5", "s:text",
// "x:<base64>") because the INI format turns every scalar into a string and would lose
// the difference between the Bool true and the String "true".
struct UserDefaults::Backend
{
    explicit Backend(const QString &path) : settings(path, QSettings::IniFormat) {}
    QSettings settings;
    std::vector<UserDefaults *> readers;
};

namespace {

std::map<QString, std::weak_ptr<UserDefaults::Backend>> &backends()
{
    static std::map<QString, std::weak_ptr<UserDefaults::Backend>> map;
    return map;
}

// Data values are handed to QSettings as bytes: it writes a text value to the file one
// character at a time with an allocation each, which for a large value (the session draft)
// is millions of allocations per write, while bytes go straight through. Both read back as
// the same "x:<base64>" text.
QByteArray dataBytes(const QByteArray &value)
{
    return QByteArrayLiteral("x:") + value.toBase64();
}

QString standardPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QLatin1Char('/') + ApplicationInfo::bundleIdentifier() + QStringLiteral("/preferences.ini");
}

// QSettings treats '/' and '\' in keys as group separators; our keys are dotted names,
// but keep any key intact by escaping those characters.
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
    auto &map = backends();
    auto it = map.find(path);
    if (it != map.end())
        m_backend = it->second.lock();
    if (!m_backend) {
        m_backend = std::make_shared<Backend>(path);
        map[path] = m_backend;
    }
    m_backend->readers.push_back(this);
}

UserDefaults::~UserDefaults()
{
    auto &readers = m_backend->readers;
    readers.erase(std::remove(readers.begin(), readers.end(), this), readers.end());
    if (readers.empty()) {
        m_backend->settings.sync();
        backends().erase(m_backend->settings.fileName());
    }
}

QString UserDefaults::filePath() const
{
    return m_backend->settings.fileName();
}

std::optional<QString> UserDefaults::read(const QString &key) const
{
    const QVariant value = m_backend->settings.value(settingsKey(key));
    if (!value.isValid())
        return std::nullopt;
    const QString text = value.toString();
    if (text.size() < 2 || text.at(1) != QLatin1Char(':'))
        return std::nullopt;
    return text;
}

void UserDefaults::write(const QString &key, const QVariant &encoded)
{
    if (m_backend->settings.value(settingsKey(key)) == encoded)
        return;
    m_backend->settings.setValue(settingsKey(key), encoded);
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
    write(key, dataBytes(value));
}

void UserDefaults::remove(const QString &key)
{
    if (!read(key))
        return;
    m_backend->settings.remove(settingsKey(key));
    notifyReaders(m_backend->readers, key);
}

void UserDefaults::sync()
{
    m_backend->settings.sync();
}

UserDefaults::WorkerWriter::WorkerWriter(const QString &filePath)
    : m_settings(std::make_unique<QSettings>(QFileInfo(filePath).absoluteFilePath(), QSettings::IniFormat))
{
}

UserDefaults::WorkerWriter::~WorkerWriter() = default;

void UserDefaults::WorkerWriter::setData(const QString &key, const QByteArray &value)
{
    m_settings->setValue(settingsKey(key), dataBytes(value));
    if (!m_changedKeys.contains(key))
        m_changedKeys.append(key);
}

void UserDefaults::WorkerWriter::sync()
{
    m_settings->sync();
    // The readers live on the main thread, and so does the table of them; they hear of the
    // change once the file holds it.
    QCoreApplication *application = QCoreApplication::instance();
    const QStringList keys = std::exchange(m_changedKeys, QStringList());
    if (!application || keys.isEmpty())
        return;
    const QString path = m_settings->fileName();
    QMetaObject::invokeMethod(application, [path, keys] {
        const auto found = backends().find(path);
        if (found == backends().end())
            return;
        if (const std::shared_ptr<Backend> backend = found->second.lock()) {
            for (const QString &key : keys)
                notifyReaders(backend->readers, key);
        }
    }, Qt::QueuedConnection);
}

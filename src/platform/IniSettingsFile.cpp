#include "platform/IniSettingsFile.h"

#include "base/Text.h"
#include "platform/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>

namespace {

const QByteArray generalSection = QByteArrayLiteral("General");
// Another writer holds the lock for one read and write of the file.
constexpr qint64 lockWaitMilliseconds = 3000;

int octValue(char ch)
{
    return ch >= '0' && ch <= '7' ? ch - '0' : -1;
}

char hexUpper(uint value)
{
    return "0123456789ABCDEF"[value & 0xf];
}

// A string as QSettings writes it: escapes for control characters, quotes and backslashes, the
// whole value quoted when it holds one of ";,=" or starts or ends with a space. Byte-array
// values (not UTF-8) escape everything from 0x7f on.
void appendEscapedString(QByteArray &result, const QString &text, bool utf8)
{
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    const qsizetype start = result.size();
    result.reserve(start + text.size() + 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text.at(i).unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && ch < 0x80 && Text::hexDigitValue(char(ch)) != -1) {
            result += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case '\0': result += "\\0"; escapeNextIfDigit = true; break;
        case '\a': result += "\\a"; break;
        case '\b': result += "\\b"; break;
        case '\f': result += "\\f"; break;
        case '\n': result += "\\n"; break;
        case '\r': result += "\\r"; break;
        case '\t': result += "\\t"; break;
        case '\v': result += "\\v"; break;
        case '"':
        case '\\':
            result += '\\';
            result += char(ch);
            break;
        default:
            if (ch <= 0x1f || (ch >= 0x7f && !utf8)) {
                result += "\\x" + QByteArray::number(ch, 16);
                escapeNextIfDigit = true;
            } else if (utf8 && ch >= 0x80) {
                // A surrogate pair goes out as one character.
                qsizetype length = 1;
                if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                    length = 2;
                result += QStringView(text).sliced(i, length).toUtf8();
                i += length - 1;
            } else {
                result += char(ch);
            }
        }
    }
    if (needsQuotes || (start < result.size() && (result.at(start) == ' ' || result.back() == ' '))) {
        result.insert(start, '"');
        result += '"';
    }
}

void chopTrailingSpaces(QString &text, qsizetype limit)
{
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t'))
        text.chop(1);
}

// The value's text, and its items when unquoted commas made it a list, as QSettings reads them.
bool unescapeStringList(QByteArrayView str, QString &text, QStringList &list)
{
    static const char escapeCodes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                          {'r', '\r'}, {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                          {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    bool isList = false;
    bool inQuotes = false;
    bool currentIsQuoted = false;
    qsizetype i = 0;
    const auto skipSpaces = [&] {
        while (i < str.size() && (str.at(i) == ' ' || str.at(i) == '\t'))
            ++i;
    };
    skipSpaces();
    qsizetype chopLimit = text.size();
    while (i < str.size()) {
        const char ch = str.at(i);
        if (ch == '\\') {
            ++i;
            if (i >= str.size())
                break;
            const char code = str.at(i++);
            bool known = false;
            for (const auto &escape : escapeCodes) {
                if (code == escape[0]) {
                    text += QLatin1Char(escape[1]);
                    known = true;
                    break;
                }
            }
            if (known) {
                chopLimit = text.size();
                continue;
            }
            if (code == 'x' || octValue(code) != -1) {
                const bool hex = code == 'x';
                char16_t value = hex ? 0 : char16_t(octValue(code));
                if (hex && (i >= str.size() || Text::hexDigitValue(str.at(i)) == -1)) {
                    chopLimit = text.size();
                    continue;
                }
                while (i < str.size()) {
                    const int digit = hex ? Text::hexDigitValue(str.at(i)) : octValue(str.at(i));
                    if (digit == -1)
                        break;
                    value = char16_t((value << (hex ? 4 : 3)) + digit);
                    ++i;
                }
                text += QChar(value);
                chopLimit = text.size();
                continue;
            }
            if ((code == '\n' || code == '\r') && i < str.size()) {
                const char next = str.at(i);
                if ((next == '\n' || next == '\r') && next != code)
                    ++i;
            }
            chopLimit = text.size();
        } else if (ch == '"') {
            ++i;
            currentIsQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipSpaces();
                chopLimit = text.size();
            }
        } else if (ch == ',' && !inQuotes) {
            if (!currentIsQuoted)
                chopTrailingSpaces(text, chopLimit);
            if (!isList) {
                isList = true;
                list.clear();
            }
            list.append(text);
            text.clear();
            currentIsQuoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < str.size() && str.at(j) != '\\' && str.at(j) != '"' && str.at(j) != ',')
                ++j;
            text += QString::fromUtf8(str.sliced(i, j - i));
            i = j;
        }
    }
    if (!currentIsQuoted)
        chopTrailingSpaces(text, chopLimit);
    if (isList)
        list.append(text);
    return isList;
}

} // namespace

IniSettingsFile::IniSettingsFile(QString path)
    : m_path(std::move(path))
{
}

QByteArray IniSettingsFile::escapedKey(const QString &key)
{
    QByteArray result;
    result.reserve(key.size() * 3 / 2);
    for (const QChar qch : key) {
        uint ch = qch.unicode();
        if (ch == '/') {
            result += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_'
                   || ch == '-' || ch == '.') {
            result += char(ch);
        } else if (ch <= 0xff) {
            result += '%';
            result += hexUpper(ch / 16);
            result += hexUpper(ch % 16);
        } else {
            result += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                result += hexUpper(ch >> shift);
        }
    }
    return result;
}

QString IniSettingsFile::unescapedKey(QByteArrayView escaped)
{
    const QString decoded = QString::fromUtf8(escaped);
    QString result;
    result.reserve(decoded.size());
    qsizetype i = 0;
    while (i < decoded.size()) {
        const QChar ch = decoded.at(i);
        if (ch == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (ch != u'%' || i == decoded.size() - 1) {
            result += ch;
            ++i;
            continue;
        }
        qsizetype first = i + 1;
        int digits = 2;
        if (decoded.at(first) == u'U') {
            ++first;
            digits = 4;
        }
        bool ok = false;
        const ushort value = first + digits <= decoded.size() ? QStringView(decoded).sliced(first, digits).toUShort(&ok, 16) : 0;
        if (!ok) {
            result += u'%';
            ++i;
            continue;
        }
        result += QChar(value);
        i = first + digits;
    }
    return result;
}

QByteArray IniSettingsFile::escapedValue(const QString &text)
{
    if (text.startsWith(QLatin1String("x:")))
        return escapedData(text.toLatin1());
    QByteArray result;
    // As QSettings does: a text holding a NUL is wrapped, one starting with '@' gets another.
    if (text.contains(QChar(0)))
        appendEscapedString(result, QStringLiteral("@String(") + text + u')', true);
    else
        appendEscapedString(result, text.startsWith(u'@') ? u'@' + text : text, true);
    return result;
}

QByteArray IniSettingsFile::escapedData(const QByteArray &bytes)
{
    // Printable ASCII without quotes and backslashes (base64 text is) needs no escapes: copied
    // whole, megabytes take a moment instead of an append per character.
    const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char ch) {
        return ch >= 0x20 && ch < 0x7f && ch != '"' && ch != '\\';
    });
    if (!plain) {
        QByteArray result;
        appendEscapedString(result, QStringLiteral("@ByteArray(") + QString::fromLatin1(bytes) + u')', false);
        return result;
    }
    const bool quoted = bytes.contains(';') || bytes.contains(',') || bytes.contains('=');
    QByteArray result;
    result.reserve(bytes.size() + 14);
    if (quoted)
        result += '"';
    result.append("@ByteArray(").append(bytes).append(')');
    if (quoted)
        result += '"';
    return result;
}

std::optional<QString> IniSettingsFile::unescapedValue(QByteArrayView escaped)
{
    QString text;
    QStringList list;
    if (unescapeStringList(escaped, text, list)) {
        // A list is none of ours; QSettings read a one-item list as that item.
        if (list.size() != 1)
            return std::nullopt;
        text = list.front();
    }
    if (!text.startsWith(u'@'))
        return text;
    if (text.startsWith(QLatin1String("@@")))
        return text.sliced(1);
    if (text.startsWith(QLatin1String("@String(")) && text.endsWith(u')'))
        return text.sliced(8, text.size() - 9);
    if (text.startsWith(QLatin1String("@ByteArray(")) && text.endsWith(u')'))
        return QString::fromUtf8(text.sliced(11, text.size() - 12).toLatin1());
    return std::nullopt; // @Invalid(), @Variant(…) and the like
}

QByteArray IniSettingsFile::readAll() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

template<typename Visit>
void IniSettingsFile::scan(const QByteArray &file, Visit visit, QByteArray *others)
{
    bool inGeneral = true; // keys before any section header belong to General
    qsizetype otherStart = -1;
    qsizetype position = 0;
    while (position < file.size()) {
        qsizetype end = file.indexOf('\n', position);
        if (end < 0)
            end = file.size();
        QByteArrayView line = QByteArrayView(file).sliced(position, end - position);
        const qsizetype lineStart = position;
        position = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArrayView trimmed = line.trimmed();
        if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
            const bool general = unescapedKey(trimmed.sliced(1, trimmed.size() - 2)) == QLatin1String(generalSection);
            if (others && !inGeneral && otherStart >= 0)
                others->append(QByteArrayView(file).sliced(otherStart, lineStart - otherStart));
            inGeneral = general;
            otherStart = general ? -1 : lineStart;
            continue;
        }
        if (!inGeneral || trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        visit(Line{unescapedKey(line.first(equals).trimmed()), line.sliced(equals + 1)});
    }
    if (others && !inGeneral && otherStart >= 0)
        others->append(QByteArrayView(file).sliced(otherStart));
}

void IniSettingsFile::load(qsizetype keepLimit, std::map<QString, QString> &values, std::set<QString> &large)
{
    values.clear();
    large.clear();
    const QByteArray file = readAll();
    scan(file, [&](const Line &line) { keep(line.key, line.value, keepLimit, values, large); }, nullptr);
}

void IniSettingsFile::keep(const QString &key, QByteArrayView value, qsizetype keepLimit,
                           std::map<QString, QString> &values, std::set<QString> &large)
{
    // Bytes are at least as many as the characters they decode to.
    if (value.size() > keepLimit) {
        values.erase(key);
        large.insert(key);
        return;
    }
    large.erase(key);
    if (const std::optional<QString> text = unescapedValue(value))
        values[key] = *text;
    else
        values.erase(key);
}

std::optional<QString> IniSettingsFile::readValue(const QString &key) const
{
    const QByteArray file = readAll();
    std::optional<QString> found;
    scan(file, [&](const Line &line) {
        if (line.key == key)
            found = unescapedValue(line.value);
    }, nullptr);
    return found;
}

bool IniSettingsFile::write(const Changes &changes, qsizetype keepLimit, std::map<QString, QString> &values,
                            std::set<QString> &large)
{
    // Held until the new file is in place: a writer that read the file before us would
    // otherwise replace it without our keys.
    const QString lockPath = m_path + QStringLiteral(".lock");
    QLockFile lock(lockPath);
    if (!lock.tryLock(int(lockWaitMilliseconds)))
        return false;
    // QLockFile makes its file as the umask says, and a crash leaves it beside the settings.
    PrivateFiles::tighten(lockPath);
    const QByteArray old = readAll();
    QByteArray others;
    // Sorted as QSettings writes them; a key the file holds twice counts once, as it reads it.
    std::map<QString, QByteArrayView> general;
    scan(old, [&](const Line &line) { general[line.key] = line.value; }, &others);
    for (const auto &[key, value] : changes) {
        if (value)
            general[key] = QByteArrayView(*value);
        else
            general.erase(key);
    }

    QByteArray out;
    qsizetype size = 16 + others.size();
    for (const auto &[key, value] : general)
        size += key.size() * 3 + value.size() + 2;
    out.reserve(size);
    if (!general.empty())
        out += "[General]\n";
    for (const auto &[key, value] : general)
        out.append(escapedKey(key)).append('=').append(value).append('\n');
    if (!others.isEmpty()) {
        if (!out.isEmpty())
            out += '\n';
        out += others;
    }

    if (!PrivateFiles::replace(m_path, out))
        return false;
    values.clear();
    large.clear();
    for (const auto &[key, value] : general)
        keep(key, value, keepLimit, values, large);
    return true;
}

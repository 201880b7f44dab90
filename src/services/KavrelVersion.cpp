#include "services/KavrelVersion.h"

#include <QStringList>

#include <algorithm>
#include <optional>

namespace KavrelVersion {

namespace {

struct Parsed
{
    QList<qint64> numbers;
    QString preRelease;
};

bool isIdentifierText(const QString &text)
{
    if (text.isEmpty())
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
               || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || c == QLatin1Char('.') || c == QLatin1Char('-');
    });
}

std::optional<Parsed> parse(const QString &text)
{
    QString core = text.trimmed();
    if (core.startsWith(QLatin1Char('v')) || core.startsWith(QLatin1Char('V')))
        core.remove(0, 1);
    const qsizetype plus = core.indexOf(QLatin1Char('+'));
    if (plus >= 0) {
        if (!isIdentifierText(core.mid(plus + 1)))
            return std::nullopt;
        core.truncate(plus);
    }
    Parsed parsed;
    const qsizetype dash = core.indexOf(QLatin1Char('-'));
    if (dash >= 0) {
        parsed.preRelease = core.mid(dash + 1);
        if (!isIdentifierText(parsed.preRelease))
            return std::nullopt;
        core.truncate(dash);
    }
    for (const QString &part : core.split(QLatin1Char('.'))) {
        // Digits only (no sign, no blanks) and few enough to hold.
        const bool digits = !part.isEmpty() && part.size() <= 18
                            && std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
        if (!digits)
            return std::nullopt;
        parsed.numbers.append(part.toLongLong());
    }
    return parsed;
}

} // namespace

bool isReadable(const QString &text)
{
    return parse(text).has_value();
}

int compare(const QString &a, const QString &b)
{
    const Parsed left = parse(a).value_or(Parsed());
    const Parsed right = parse(b).value_or(Parsed());
    const qsizetype count = std::max(left.numbers.size(), right.numbers.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 l = i < left.numbers.size() ? left.numbers[i] : 0;
        const qint64 r = i < right.numbers.size() ? right.numbers[i] : 0;
        if (l != r)
            return l < r ? -1 : 1;
    }
    if (left.preRelease.isEmpty() != right.preRelease.isEmpty())
        return left.preRelease.isEmpty() ? 1 : -1;
    const int text = QString::compare(left.preRelease, right.preRelease);
    return text < 0 ? -1 : (text > 0 ? 1 : 0);
}

} // namespace KavrelVersion

#include "services/KavrelVersion.h"

#include <QStringList>

#include <algorithm>

namespace KavrelVersion {

namespace {

struct Parsed
{
    QList<qint64> numbers;
    QString preRelease;
};

Parsed parse(const QString &text)
{
    QString core = text.trimmed();
    if (core.startsWith(QLatin1Char('v')) || core.startsWith(QLatin1Char('V')))
        core.remove(0, 1);
    Parsed parsed;
    const qsizetype dash = core.indexOf(QLatin1Char('-'));
    if (dash >= 0) {
        parsed.preRelease = core.mid(dash + 1);
        core.truncate(dash);
    }
    const qsizetype plus = core.indexOf(QLatin1Char('+')); // build metadata does not order
    if (plus >= 0)
        core.truncate(plus);
    for (const QString &part : core.split(QLatin1Char('.'))) {
        bool ok = false;
        const qint64 number = part.toLongLong(&ok);
        parsed.numbers.append(ok && number >= 0 ? number : 0);
    }
    return parsed;
}

} // namespace

int compare(const QString &a, const QString &b)
{
    const Parsed left = parse(a);
    const Parsed right = parse(b);
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

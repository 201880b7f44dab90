#include "AccessibleTextEdges.h"

#include "CallWatchdog.h"

#include <QLineEdit>

#include <algorithm>
#include <climits>

namespace AccessibleTextEdges {

namespace {

QString questionName(Around around, QAccessible::TextBoundaryType boundary, int offset)
{
    static const char *const calls[] = {"textAtOffset", "textBeforeOffset", "textAfterOffset"};
    static const char *const boundaries[] = {"char", "word", "sentence", "paragraph", "line", "no boundary"};
    return QStringLiteral("%1(%2, %3)").arg(QLatin1String(calls[int(around)])).arg(offset).arg(QLatin1String(boundaries[int(boundary)]));
}

QList<int> edgeOffsets(int count)
{
    QList<int> offsets;
    for (const int offset : {-2, -1, 0, 1, count - 1, count, count + 1, count + 100, INT_MAX, INT_MIN}) {
        if (!offsets.contains(offset))
            offsets.append(offset);
    }
    return offsets;
}

} // namespace

Answer ask(QAccessibleTextInterface *text, Around around, QAccessible::TextBoundaryType boundary, int offset,
           const QString &part)
{
    const CallWatchdog watchdog((questionName(around, boundary, offset) + QStringLiteral(" of ") + part).toUtf8());
    Answer answer;
    switch (around) {
    case Around::At:
        answer.text = text->textAtOffset(offset, boundary, &answer.start, &answer.end);
        break;
    case Around::Before:
        answer.text = text->textBeforeOffset(offset, boundary, &answer.start, &answer.end);
        break;
    case Around::After:
        answer.text = text->textAfterOffset(offset, boundary, &answer.start, &answer.end);
        break;
    }
    return answer;
}

const QList<QAccessible::TextBoundaryType> &allBoundaries()
{
    static const QList<QAccessible::TextBoundaryType> all{QAccessible::CharBoundary, QAccessible::WordBoundary,
                                                          QAccessible::SentenceBoundary, QAccessible::ParagraphBoundary,
                                                          QAccessible::LineBoundary, QAccessible::NoBoundary};
    return all;
}

QStringList askEdges(QAccessibleInterface *accessible, const QString &part,
                     const QList<QAccessible::TextBoundaryType> &boundaries)
{
    QAccessibleTextInterface *text = accessible->textInterface();
    if (!text)
        return {};
    QStringList faults;
    // A password field gives what it draws, its mask, and nothing else.
    const bool password = accessible->state().passwordEdit;
    const auto *field = qobject_cast<const QLineEdit *>(accessible->object());
    const QString mask = password && field ? field->displayText() : QString();
    const auto beyondMask = [&mask](const QString &given) {
        return std::any_of(given.cbegin(), given.cend(), [&mask](QChar character) { return !mask.contains(character); });
    };
    const int count = text->characterCount();
    if (password && text->text(0, count) != mask)
        faults.append(QStringLiteral("a password field gives other text than its mask"));
    for (const QAccessible::TextBoundaryType boundary : boundaries) {
        for (const Around around : {Around::At, Around::Before, Around::After}) {
            for (const int offset : edgeOffsets(count)) {
                const Answer answer = ask(text, around, boundary, offset, part);
                const QString question = questionName(around, boundary, offset) + QStringLiteral(" of %1 characters").arg(count);
                const QString given = QStringLiteral(": \"%1\" at %2..%3").arg(answer.text).arg(answer.start).arg(answer.end);
                const bool none = answer.start == -1 && answer.end == -1;
                if (none && !answer.text.isEmpty())
                    faults.append(question + QStringLiteral(" gives text without a range") + given);
                else if (!none && (answer.start < 0 || answer.start > answer.end || answer.end > count))
                    faults.append(question + QStringLiteral(" gives a range outside the text") + given);
                else if (!none && answer.text != text->text(answer.start, answer.end))
                    faults.append(question + QStringLiteral(" gives other text than its range's") + given);
                if (password && beyondMask(answer.text))
                    faults.append(question + QStringLiteral(" gives a password field's text") + given);
            }
        }
    }
    return faults;
}

} // namespace AccessibleTextEdges

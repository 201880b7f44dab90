#include "base/Text.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

namespace Text {

QString trimmed(const QString &text)
{
    // QString::trimmed uses QChar::isSpace, which covers Unicode spaces, line and paragraph
    // separators, NEL and the ASCII controls \t \n \v \f \r.
    return text.trimmed();
}

std::optional<QString> nilIfEmpty(const QString &text)
{
    QString result = trimmed(text);
    if (result.isEmpty())
        return std::nullopt;
    return result;
}

std::optional<QString> nilIfEmpty(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    return nilIfEmpty(*text);
}

qsizetype graphemeCount(const QString &text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString graphemePrefix(const QString &text, qsizetype count)
{
    if (count <= 0 || text.isEmpty())
        return QString();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype position = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return text;
        position = next;
    }
    return text.left(position);
}

bool nfcEquals(const QString &a, const QString &b)
{
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

QString digest(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool isWrittenForPeople(const QString &text)
{
    // Longer than any sentence a server writes for the screen.
    constexpr qsizetype longestMessage = 600;
    const QString message = trimmed(text);
    if (message.isEmpty() || message.size() > longestMessage)
        return false;
    for (const QChar c : message) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n') && c != QLatin1Char('\r')
            && c != QLatin1Char('\t'))
            return false;
    }
    // A tag (<html>, </h1>, <br/>, <?xml …?>) or a declaration (<!DOCTYPE …>, <!-- -->): the
    // body is markup, whatever text sits between the tags.
    static const QRegularExpression markup(QStringLiteral("<[/?]?[A-Za-z][^<>]*>|<![A-Za-z-]"));
    return !markup.match(message).hasMatch();
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace Text

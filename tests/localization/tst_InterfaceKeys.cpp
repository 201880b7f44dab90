// Every interface key the program can hand to the localization store has a Russian row.
//
// The keys are read from the source tree, not listed by hand, so a new text without a row
// fails here. A key reaches the store in one of these ways, each followed below:
// - written at the call:        localized(QStringLiteral("Settings")) or tr("…"), also both arms of a ?:
// - returned by a key function: titleKey(section) { return QStringLiteral("Workspace"); }
// - passed through a parameter that the callee localizes: new StepRow(QStringLiteral("…"), …)
// - held in a field that is localized: content.readinessSubtitle = QStringLiteral("…"), and
//   the rows of a table of such structs (the history card's status flags).
// Texts that are not keys (a server's message, user content) never appear as literals in
// these places; the scenes' run (Screenshots) catches what is composed at run time.

#include "localization/KavrelAppLanguage.h"
#include "localization/KavrelLocalizationTables.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <algorithm>

namespace {

struct SourceFile
{
    QString path; // relative to src/
    QString text; // comments blanked, string literals kept
};

// Comments become spaces so that a commented-out call is not read; strings and character
// literals are copied as they are.
QString withoutComments(const QString &source)
{
    QString out;
    out.reserve(source.size());
    qsizetype i = 0;
    const qsizetype n = source.size();
    while (i < n) {
        const QChar c = source.at(i);
        if (c == u'"' || c == u'\'') {
            const QChar quote = c;
            out.append(c);
            ++i;
            while (i < n && source.at(i) != quote) {
                if (source.at(i) == u'\\' && i + 1 < n) {
                    out.append(source.at(i));
                    ++i;
                }
                out.append(source.at(i));
                ++i;
            }
            if (i < n)
                out.append(source.at(i++));
            continue;
        }
        if (c == u'/' && i + 1 < n && source.at(i + 1) == u'/') {
            while (i < n && source.at(i) != u'\n') {
                out.append(u' ');
                ++i;
            }
            continue;
        }
        if (c == u'/' && i + 1 < n && source.at(i + 1) == u'*') {
            while (i < n && !(source.at(i) == u'*' && i + 1 < n && source.at(i + 1) == u'/')) {
                out.append(source.at(i) == u'\n' ? u'\n' : u' ');
                ++i;
            }
            out.append(QStringLiteral("  "));
            i += 2;
            continue;
        }
        out.append(c);
        ++i;
    }
    return out;
}

// Index of the quote closing the string or character literal that opens at `i`.
qsizetype endOfQuoted(const QString &text, qsizetype i)
{
    const QChar quote = text.at(i);
    for (++i; i < text.size() && text.at(i) != quote; ++i) {
        if (text.at(i) == u'\\')
            ++i;
    }
    return i;
}

// Index of the bracket closing the one at `open`, skipping strings; -1 when unbalanced.
qsizetype closingBracket(const QString &text, qsizetype open)
{
    const QChar opening = text.at(open);
    const QChar closing = opening == u'(' ? u')' : opening == u'{' ? u'}' : u']';
    int depth = 0;
    for (qsizetype i = open; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"' || c == u'\'') {
            i = endOfQuoted(text, i);
            continue;
        }
        if (c == opening)
            ++depth;
        else if (c == closing && --depth == 0)
            return i;
    }
    return -1;
}

// The top-level, comma-separated arguments of an argument list (without its parentheses).
QStringList splitArguments(const QString &list)
{
    QStringList arguments;
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QChar c = list.at(i);
        if (c == u'"' || c == u'\'') {
            i = endOfQuoted(list, i);
            continue;
        }
        if (c == u'(' || c == u'{' || c == u'[' || c == u'<')
            ++depth;
        else if (c == u')' || c == u'}' || c == u']' || (c == u'>' && depth > 0 && list.at(i - 1) != u'-'))
            --depth;
        else if (c == u',' && depth == 0) {
            arguments.append(list.mid(start, i - start).trimmed());
            start = i + 1;
        }
    }
    const QString last = list.mid(start).trimmed();
    if (!last.isEmpty() || !arguments.isEmpty())
        arguments.append(last);
    return arguments;
}

QString decodeLiteral(const QString &body)
{
    QString text;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body.at(i) != u'\\' || i + 1 >= body.size()) {
            text.append(body.at(i));
            continue;
        }
        const QChar escaped = body.at(++i);
        if (escaped == u'n')
            text.append(u'\n');
        else if (escaped == u't')
            text.append(u'\t');
        else if (escaped == u'u' && i + 4 < body.size()) {
            text.append(QChar(body.mid(i + 1, 4).toUShort(nullptr, 16)));
            i += 4;
        } else
            text.append(escaped);
    }
    return text;
}

// The string literals of an expression; adjacent literals ("a" "b") are one text.
QStringList literalsIn(const QString &expression)
{
    static const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    QStringList texts;
    qsizetype previousEnd = -1;
    for (const QRegularExpressionMatch &match : literal.globalMatch(expression)) {
        const QString text = decodeLiteral(match.captured(1));
        const bool adjacent = previousEnd >= 0
                              && expression.mid(previousEnd, match.capturedStart() - previousEnd).trimmed().isEmpty();
        if (adjacent && !texts.isEmpty())
            texts.last() += text;
        else
            texts.append(text);
        previousEnd = match.capturedEnd();
    }
    return texts;
}

struct Call
{
    QString name;
    QStringList arguments;
    qsizetype position;
};

// Every call (or declaration) "name(…)" in the text.
QList<Call> callsIn(const QString &text)
{
    static const QRegularExpression opening(QStringLiteral(R"(\b([A-Za-z_]\w*)\s*\()"));
    static const QSet<QString> keywords{QStringLiteral("if"), QStringLiteral("for"), QStringLiteral("while"),
                                        QStringLiteral("switch"), QStringLiteral("catch"), QStringLiteral("return"),
                                        QStringLiteral("sizeof")};
    QList<Call> calls;
    for (const QRegularExpressionMatch &match : opening.globalMatch(text)) {
        if (keywords.contains(match.captured(1)))
            continue;
        const qsizetype open = match.capturedEnd() - 1;
        const qsizetype close = closingBracket(text, open);
        if (close < 0)
            continue;
        calls.append({match.captured(1), splitArguments(text.mid(open + 1, close - open - 1)), match.capturedStart()});
    }
    return calls;
}

struct Definition
{
    QString name;
    QStringList parameters; // names
    int requiredParameters = 0; // those without a default
    QString body;
    QString path;
};

// Function definitions: a name, a parameter list, qualifiers, an optional constructor
// initialiser list, then the body.
QList<Definition> definitionsIn(const SourceFile &file)
{
    static const QRegularExpression opening(QStringLiteral(R"(\b([A-Za-z_]\w*)\s*\()"));
    static const QRegularExpression qualifier(QStringLiteral(R"(^\s*(?:const|override|noexcept|final)\b)"));
    static const QRegularExpression parameterName(QStringLiteral(R"(([A-Za-z_]\w*)\s*(?:\[\s*\])?\s*(?:=.*)?$)"));
    const QString &text = file.text;
    QList<Definition> definitions;
    for (const QRegularExpressionMatch &match : opening.globalMatch(text)) {
        const qsizetype open = match.capturedEnd() - 1;
        const qsizetype close = closingBracket(text, open);
        if (close < 0)
            continue;
        qsizetype i = close + 1;
        for (;;) {
            const QRegularExpressionMatch q = qualifier.match(text.mid(i, 40));
            if (!q.hasMatch())
                break;
            i += q.capturedEnd();
        }
        while (i < text.size() && text.at(i).isSpace())
            ++i;
        if (i < text.size() && text.at(i) == u':' && (i + 1 >= text.size() || text.at(i + 1) != u':')) {
            // Constructor initialisers: name(…) or name{…}, separated by commas, up to the body.
            ++i;
            for (;;) {
                while (i < text.size() && (text.at(i).isSpace() || text.at(i) == u','))
                    ++i;
                qsizetype j = i;
                while (j < text.size() && (text.at(j).isLetterOrNumber() || text.at(j) == u'_' || text.at(j) == u':'
                                           || text.at(j) == u'<' || text.at(j) == u'>'))
                    ++j;
                if (j == i || j >= text.size() || (text.at(j) != u'(' && text.at(j) != u'{'))
                    break;
                const qsizetype end = closingBracket(text, j);
                if (end < 0)
                    break;
                i = end + 1;
            }
            while (i < text.size() && text.at(i).isSpace())
                ++i;
        }
        if (i >= text.size() || text.at(i) != u'{')
            continue;
        const qsizetype bodyEnd = closingBracket(text, i);
        if (bodyEnd < 0)
            continue;
        // The body starts after the parameters, so that a constructor's initialisers count.
        Definition definition{match.captured(1), {}, 0, text.mid(close + 1, bodyEnd - close), file.path};
        for (const QString &parameter : splitArguments(text.mid(open + 1, close - open - 1))) {
            const QRegularExpressionMatch name = parameterName.match(parameter);
            definition.parameters.append(name.hasMatch() ? name.captured(1) : QString());
            if (!parameter.contains(u'='))
                ++definition.requiredParameters;
        }
        definitions.append(definition);
    }
    return definitions;
}

// The two arms of a top-level "condition ? a : b", or the expression itself.
QStringList ternaryArms(const QString &expression)
{
    int depth = 0;
    qsizetype question = -1;
    for (qsizetype i = 0; i < expression.size(); ++i) {
        const QChar c = expression.at(i);
        if (c == u'"' || c == u'\'') {
            i = endOfQuoted(expression, i);
            continue;
        }
        if (c == u'(' || c == u'{' || c == u'[')
            ++depth;
        else if (c == u')' || c == u'}' || c == u']')
            --depth;
        else if (depth == 0 && c == u'?' && question < 0)
            question = i;
        else if (depth == 0 && c == u':' && question >= 0) {
            const bool scope = (i + 1 < expression.size() && expression.at(i + 1) == u':') || expression.at(i - 1) == u':';
            if (!scope)
                return {expression.mid(question + 1, i - question - 1), expression.mid(i + 1)};
        }
    }
    return {expression};
}

// The literals of an expression that is nothing but texts: a literal, or a ?: whose arms are
// literals (the condition may be anything). A call that merely takes a literal argument
// (reader.string("text")) yields none.
QStringList literalTexts(const QString &expression)
{
    static const QRegularExpression arm(QStringLiteral(
        "^\\s*(?:(?:QStringLiteral|QLatin1String|QString::fromUtf8|QString::fromLatin1|u8)\\s*\\(\\s*)?"
        "(?:\"(?:[^\"\\\\]|\\\\.)*\"\\s*)+\\)?\\s*$"));
    QStringList arms = ternaryArms(expression);
    QStringList texts;
    for (const QString &candidate : arms) {
        if (candidate.contains(arm))
            texts += literalsIn(candidate);
    }
    return texts;
}

// tr() reaches the store too, through the translator the store installs.
bool isLocalizingCall(const QString &name)
{
    return name == QLatin1String("localized") || name == QLatin1String("localizedFormat") || name == QLatin1String("tr");
}

// "a.b", "a->b", "*a.b": the field named last, when the expression ends in one.
QString fieldOf(const QString &expression)
{
    static const QRegularExpression field(QStringLiteral(R"((?:\.|->)\s*([A-Za-z_]\w*)\s*$)"));
    const QRegularExpressionMatch match = field.match(expression);
    return match.hasMatch() ? match.captured(1) : QString();
}

// "f(…)", "a.b().f()", "X::f(x)": the function called last, when the expression is a call.
QString calledFunction(const QString &expression)
{
    static const QRegularExpression call(QStringLiteral(R"(([A-Za-z_]\w*)\s*\(([^()]|\([^()]*\))*\)\s*$)"));
    const QRegularExpressionMatch match = call.match(expression.trimmed());
    return match.hasMatch() ? match.captured(1) : QString();
}

class KeyScan
{
public:
    explicit KeyScan(QList<SourceFile> files) : m_files(std::move(files))
    {
        for (const SourceFile &file : m_files) {
            m_definitions += definitionsIn(file);
            m_calls.insert(file.path, callsIn(file.text));
        }
        // Default arguments are written in the header's declaration, not at the definition.
        QHash<QPair<QString, int>, int> declaredRequired;
        for (const SourceFile &file : m_files) {
            if (!file.path.endsWith(QLatin1String(".h")))
                continue;
            for (const Call &declaration : m_calls.value(file.path)) {
                const auto defaults = std::count_if(declaration.arguments.cbegin(), declaration.arguments.cend(),
                                                    [](const QString &argument) { return argument.contains(u'='); });
                if (defaults > 0)
                    declaredRequired.insert({declaration.name, int(declaration.arguments.size())},
                                            int(declaration.arguments.size() - defaults));
            }
        }
        for (Definition &definition : m_definitions) {
            const auto declared = declaredRequired.constFind({definition.name, int(definition.parameters.size())});
            if (declared != declaredRequired.constEnd())
                definition.requiredParameters = std::min(definition.requiredParameters, *declared);
        }
    }

    // Key → where it was found.
    QHash<QString, QString> keys()
    {
        QSet<QPair<QString, int>> keyParameters;
        // How many arguments each function named so may take.
        QHash<QString, QList<QPair<int, int>>> arities;
        for (const Definition &definition : m_definitions)
            arities[definition.name].append({definition.requiredParameters, int(definition.parameters.size())});
        // A call reaches a key parameter only when some function of that name with that key
        // parameter takes as many arguments (names such as setContent are shared).
        QHash<QPair<QString, int>, QList<QPair<int, int>>> keyParameterArities;
        const auto reachesKeyParameter = [&](const Call &call, qsizetype index) {
            const auto found = keyParameterArities.constFind({call.name, int(index)});
            if (found == keyParameterArities.constEnd())
                return false;
            for (const auto &[required, all] : *found) {
                if (call.arguments.size() >= required && call.arguments.size() <= all)
                    return true;
            }
            return false;
        };
        QSet<QString> keyFunctions;
        QSet<QString> keyFields;
        QSet<QString> keyConstants;

        // An expression that stands where a key is expected: its literals are keys, and the
        // field or function it reads names a further place keys come from.
        const auto expressionIsKey = [&](const QString &expression, const QString &where, bool literalsOnly) {
            for (const QString &literal : literalsOnly ? literalTexts(expression) : literalsIn(expression))
                add(literal, where);
            for (QString arm : ternaryArms(expression)) {
                arm = arm.trimmed();
                // QString::fromLatin1(flag.on ? flag.onTitle : flag.offTitle) reads two fields.
                static const QRegularExpression wrapped(QStringLiteral("^QString::from(?:Latin1|Utf8)\\((.*)\\)$"));
                const QRegularExpressionMatch inner = wrapped.match(arm);
                const QStringList parts = inner.hasMatch() ? ternaryArms(inner.captured(1)) : QStringList{arm};
                for (QString part : parts) {
                    part = part.trimmed();
                    if (part.startsWith(u'*'))
                        part.remove(0, 1);
                    const QString field = fieldOf(part);
                    if (!field.isEmpty())
                        keyFields.insert(field);
                    static const QRegularExpression constant(QStringLiteral("^(?:[A-Za-z_]\\w*::)*([A-Za-z_]\\w*)$"));
                    const QRegularExpressionMatch name = constant.match(part);
                    if (name.hasMatch())
                        keyConstants.insert(name.captured(1));
                    const QString function = calledFunction(part);
                    // Accessors of containers and optionals say nothing about where a key came from.
                    static const QSet<QString> accessors{
                        QStringLiteral("QStringLiteral"), QStringLiteral("value_or"), QStringLiteral("value"),
                        QStringLiteral("key"), QStringLiteral("at"), QStringLiteral("first"), QStringLiteral("last"),
                        QStringLiteral("toString"), QStringLiteral("trimmed"), QStringLiteral("arg")};
                    if (!function.isEmpty() && !isLocalizingCall(function) && !accessors.contains(function))
                        keyFunctions.insert(function);
                }
            }
        };

        // Calls of the store, and the parameters and fields that reach them.
        for (const SourceFile &file : m_files) {
            for (const Call &call : m_calls.value(file.path)) {
                if (isLocalizingCall(call.name) && !call.arguments.isEmpty())
                    expressionIsKey(call.arguments.first(), file.path, false);
                // A message the program sets for a screen is shown through the store.
                static const QRegularExpression messageSetter(QStringLiteral("^set\\w*Message$"));
                if (call.name.contains(messageSetter) && call.arguments.size() == 1)
                    expressionIsKey(call.arguments.first(), file.path, true);
            }
        }
        for (const Definition &definition : m_definitions) {
            if (definition.name.endsWith(QLatin1String("Key")))
                keyFunctions.insert(definition.name);
        }

        // Parameters that end up in the store, followed through calls until nothing changes.
        bool changed = true;
        while (changed) {
            changed = false;
            for (const Definition &definition : m_definitions) {
                for (const Call &call : callsIn(definition.body)) {
                    for (qsizetype i = 0; i < call.arguments.size(); ++i) {
                        const bool keyPosition = (isLocalizingCall(call.name) && i == 0) || reachesKeyParameter(call, i);
                        if (!keyPosition)
                            continue;
                        const QString argument = call.arguments.at(i);
                        static const QRegularExpression bare(QStringLiteral(R"(^\*?([A-Za-z_]\w*)$)"));
                        const QRegularExpressionMatch name = bare.match(argument);
                        if (!name.hasMatch())
                            continue;
                        const qsizetype index = definition.parameters.indexOf(name.captured(1));
                        const QPair<int, int> arity{definition.requiredParameters, int(definition.parameters.size())};
                        if (index >= 0 && !keyParameterArities.value({definition.name, int(index)}).contains(arity)) {
                            keyParameters.insert({definition.name, int(index)});
                            keyParameterArities[{definition.name, int(index)}].append(arity);
                            changed = true;
                        }
                    }
                }
            }
        }
        for (const SourceFile &file : m_files) {
            for (const Call &call : m_calls.value(file.path)) {
                for (qsizetype i = 0; i < call.arguments.size(); ++i) {
                    if (reachesKeyParameter(call, i))
                        expressionIsKey(call.arguments.at(i), file.path, true);
                }
            }
        }

        // Fields: literal assignments, fields copied into key fields, and tables of structs.
        for (int round = 0; round < 3; ++round) {
            for (const SourceFile &file : m_files) {
                static const QRegularExpression assignment(
                    QStringLiteral(R"((?:\.|->)\s*([A-Za-z_]\w*)\s*=(?!=)\s*([^;]*);)"));
                for (const QRegularExpressionMatch &match : assignment.globalMatch(file.text)) {
                    if (keyFields.contains(match.captured(1)))
                        expressionIsKey(match.captured(2), file.path, true);
                }
            }
        }
        for (const SourceFile &file : m_files) {
            static const QRegularExpression structure(QStringLiteral(R"(\bstruct\s+([A-Za-z_]\w*)\s*\{([^{}]*)\})"));
            for (const QRegularExpressionMatch &match : structure.globalMatch(file.text)) {
                bool holdsKeys = false;
                for (const QString &field : keyFields)
                    holdsKeys = holdsKeys || match.captured(2).contains(QRegularExpression(QStringLiteral("\\b%1\\s*;").arg(field)));
                if (!holdsKeys)
                    continue;
                const QRegularExpression table(QStringLiteral(R"(\b%1\s+[A-Za-z_]\w*\s*\[\s*\]\s*=\s*\{)").arg(match.captured(1)));
                for (const QRegularExpressionMatch &use : table.globalMatch(file.text)) {
                    const qsizetype open = use.capturedEnd() - 1;
                    const qsizetype close = closingBracket(file.text, open);
                    for (const QString &literal : literalsIn(file.text.mid(open, close - open)))
                        add(literal, file.path);
                }
            }
        }

        // Named constants that hold a key: const QString passwordLabel = QStringLiteral("Password").
        for (const SourceFile &file : m_files) {
            static const QRegularExpression definitionOfConstant(
                QStringLiteral("\\b([A-Za-z_]\\w*)\\s*(?:=(?!=)\\s*([^;]*)|\\{([^;{}]*)\\});"));
            for (const QRegularExpressionMatch &match : definitionOfConstant.globalMatch(file.text)) {
                if (!keyConstants.contains(match.captured(1)))
                    continue;
                for (const QString &literal : literalTexts(match.captured(2) + match.captured(3)))
                    add(literal, file.path);
            }
        }

        // Functions whose result is a key: every text they return, when they return nothing but
        // texts (a function that composes its result returns shown text, not a key).
        for (const Definition &definition : m_definitions) {
            if (!keyFunctions.contains(definition.name))
                continue;
            static const QRegularExpression returned(QStringLiteral("\\breturn\\b([^;]*);"));
            static const QRegularExpression nothing(QStringLiteral("^\\s*(?:QString\\(\\)|\\{\\}|std::nullopt)?\\s*$"));
            QStringList texts;
            bool onlyTexts = true;
            for (const QRegularExpressionMatch &match : returned.globalMatch(definition.body)) {
                const QString expression = match.captured(1);
                if (expression.contains(nothing))
                    continue;
                const QStringList literals = literalTexts(expression);
                if (literals.isEmpty())
                    onlyTexts = false;
                texts += literals;
            }
            if (!onlyTexts)
                continue;
            for (const QString &text : texts)
                add(text, definition.path + QStringLiteral(" (") + definition.name + QStringLiteral(")"));
        }
        return m_keys;
    }

private:
    void add(const QString &key, const QString &where)
    {
        if (!m_keys.contains(key))
            m_keys.insert(key, where);
    }

    QList<SourceFile> m_files;
    QList<Definition> m_definitions;
    QHash<QString, QList<Call>> m_calls;
    QHash<QString, QString> m_keys;
};

QString sourceRoot()
{
    return qEnvironmentVariable("KAVREL_TEST_SOURCE_DIR") + QStringLiteral("/src");
}

// The folders that can reach the store: those above it in src/LAYERS.
QList<SourceFile> sourcesAboveTheStore()
{
    QFile layers(sourceRoot() + QStringLiteral("/LAYERS"));
    if (!layers.open(QIODevice::ReadOnly))
        return {};
    QStringList folders;
    bool above = false;
    for (const QString &line : QString::fromUtf8(layers.readAll()).split(u'\n')) {
        if (line.startsWith(u'#') || line.trimmed().isEmpty())
            continue;
        const QString folder = line.section(u' ', 0, 0);
        if (above)
            folders.append(folder);
        if (folder == QLatin1String("localization"))
            above = true;
    }
    QList<SourceFile> files;
    for (const QString &folder : folders) {
        QDirIterator it(sourceRoot() + u'/' + folder, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            files.append({QDir(sourceRoot()).relativeFilePath(path), withoutComments(QString::fromUtf8(file.readAll()))});
        }
    }
    std::sort(files.begin(), files.end(), [](const SourceFile &a, const SourceFile &b) { return a.path < b.path; });
    return files;
}

} // namespace

class tst_InterfaceKeys : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scanFindsEachWayAKeyTravels_data();
    void scanFindsEachWayAKeyTravels();
    void everyKeyInTheSourceHasARussianRow();
};

void tst_InterfaceKeys::scanFindsEachWayAKeyTravels_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("literal and both arms") << QStringLiteral(
        "void f(bool on) { label->setText(store.localized(on ? QStringLiteral(\"A\") : QStringLiteral(\"B\")));\n"
        "  x = store.localizedFormat(QStringLiteral(\"%@ c\"), QStringList{QStringLiteral(\"not a key\")}); }")
                                           << QStringList{"%@ c", "A", "B"};
    QTest::newRow("joined literal") << QStringLiteral(
        "void f() { localized(QStringLiteral(\"one \"\n  \"two\")); }") << QStringList{"one two"};
    QTest::newRow("commented out") << QStringLiteral("void f() { // localized(QStringLiteral(\"gone\"));\n }")
                                   << QStringList{};
    QTest::newRow("key function") << QStringLiteral(
        "QString titleKey(int s) { switch (s) { case 0: return QStringLiteral(\"W\"); } return QString(); }\n"
        "QString iconName(int s) { return QStringLiteral(\"icon.name\"); }") << QStringList{"W"};
    QTest::newRow("through parameters") << QStringLiteral(
        "Row::Row(const QString &titleKey, const QString &icon, QWidget *parent) : QWidget(parent), m_x{1} {\n"
        "  label(store.localized(titleKey)); }\n"
        "Row *make(const QString &title, const QString &icon) { return new Row(title, icon, this); }\n"
        "void g() { make(QStringLiteral(\"T\"), QStringLiteral(\"gear\")); }") << QStringList{"T"};
    QTest::newRow("fields and tables") << QStringLiteral(
        "struct Flag { bool on; const char *onTitle; const char *offTitle; };\n"
        "void f() { const Flag flags[] = {{true, \"On\", \"Off\"}};\n"
        "  store.localized(QString::fromLatin1(flag.on ? flag.onTitle : flag.offTitle));\n"
        "  status.help = store.localized(status.helpText);\n"
        "  status.helpText = content.microphoneHelpText;\n"
        "  content.microphoneHelpText = QStringLiteral(\"Help\");\n"
        "  content.icon = QStringLiteral(\"mic\"); }") << QStringList{"Help", "Off", "On"};
    QTest::newRow("function results") << QStringLiteral(
        "QString Flow::title() const { if (a) return QStringLiteral(\"X\"); return QStringLiteral(\"Y\"); }\n"
        "void f() { store.localized(m_flow->emailFlow().title()); }") << QStringList{"X", "Y"};
}

void tst_InterfaceKeys::scanFindsEachWayAKeyTravels()
{
    QFETCH(QString, source);
    QFETCH(QStringList, expected);
    KeyScan scan({{QStringLiteral("sample.cpp"), withoutComments(source)}});
    QStringList found = scan.keys().keys();
    found.sort();
    QCOMPARE(found, expected);
}

void tst_InterfaceKeys::everyKeyInTheSourceHasARussianRow()
{
    const QList<SourceFile> files = sourcesAboveTheStore();
    QVERIFY2(files.size() > 100, "the source tree was not found (KAVREL_TEST_SOURCE_DIR)");

    QSet<QString> russian;
    for (const KavrelTranslationPair &pair : KavrelLocalizationTables::pairs(KavrelAppLanguage::russian))
        russian.insert(QString::fromUtf8(pair.key));

    const QHash<QString, QString> keys = KeyScan(files).keys();
    // A scan that lost its way would find next to nothing and pass; the screens hold hundreds.
    QVERIFY2(keys.size() > 250, qPrintable(QStringLiteral("only %1 keys found").arg(keys.size())));

    // Shown through the store, but not interface keys: proper names, and the sample input a
    // field shows as its placeholder.
    const QSet<QString> notKeys{QStringLiteral("Zoom"), QStringLiteral("Cisco Webex"),
                                QStringLiteral("name@company.com"), QStringLiteral("BrightKey7$x")};
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    QStringList missing;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        // A text without a Latin letter ("00:00:00", "·") cannot be an English key.
        if (notKeys.contains(it.key()) || !it.key().contains(latin))
            continue;
        if (!russian.contains(it.key().trimmed()))
            missing.append(QStringLiteral("\"%1\" (%2)").arg(it.key(), it.value()));
    }
    missing.sort();
    for (const QString &line : missing)
        qWarning().noquote() << "no Russian row:" << line;
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("%1 keys without a Russian row (listed above)").arg(missing.size())));
}

QTEST_GUILESS_MAIN(tst_InterfaceKeys)
#include "tst_InterfaceKeys.moc"

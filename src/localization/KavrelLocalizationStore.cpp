#include "localization/KavrelLocalizationStore.h"
#include "localization/KavrelBundleTranslator.h"
#include "localization/KavrelLocalizationTables.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QMetaType>
#include <QTranslator>

#include <cstdlib>
#include <optional>
#include <vector>

namespace {

QHash<QString, QString> buildTable(std::span<const KavrelTranslationPair> pairs)
{
    QHash<QString, QString> table;
    table.reserve(qsizetype(pairs.size()));
    for (const KavrelTranslationPair &pair : pairs)
        table.insert(QString::fromUtf8(pair.key), QString::fromUtf8(pair.translation));
    return table;
}

// Each table becomes a map the first time its language is looked up. Function-local statics
// give the once-only construction that lookups from any thread need; afterwards the maps are
// only read.
template<KavrelAppLanguage language>
const QHash<QString, QString> *builtTable()
{
    static const QHash<QString, QString> table = buildTable(KavrelLocalizationTables::pairs(language));
    return &table;
}

const QHash<QString, QString> *tableFor(KavrelAppLanguage language)
{
    switch (language) {
    case KavrelAppLanguage::english:
        return nullptr;
    case KavrelAppLanguage::russian:
        return builtTable<KavrelAppLanguage::russian>();
    case KavrelAppLanguage::german:
        return builtTable<KavrelAppLanguage::german>();
    case KavrelAppLanguage::spanish:
        return builtTable<KavrelAppLanguage::spanish>();
    case KavrelAppLanguage::french:
        return builtTable<KavrelAppLanguage::french>();
    }
    return nullptr;
}

// How an argument reads in place of "%@": like the description of the object it stands for.
// Numbers are written plainly ("1.2", "40"), not with the interface locale's separators.
QString argumentText(const QVariant &argument)
{
    switch (argument.typeId()) {
    case QMetaType::Double:
        return QString::number(argument.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Float:
        return QString::number(double(argument.toFloat()), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
        return QString::number(argument.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return QString::number(argument.toULongLong());
    default:
        return argument.toString();
    }
}

// Fills a translated format. Only the conversions the tables use are understood: "%@", its
// positional form "%N$@", and "%%". The arguments are never re-read as a format, and a faulty
// pairing of format and arguments cannot read past the list: a placeholder that has no
// argument stays in the text as written (so the fault shows instead of silently dropping a
// value), surplus arguments are ignored, and any other '%' sequence is copied unchanged.
QString fillFormat(const QString &format, const QVariantList &arguments)
{
    QString result;
    result.reserve(format.size());
    qsizetype nextArgument = 0;
    const qsizetype length = format.size();
    qsizetype i = 0;
    while (i < length) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%') || i + 1 >= length) {
            result.append(c);
            ++i;
            continue;
        }
        const QChar next = format.at(i + 1);
        if (next == QLatin1Char('%')) {
            result.append(QLatin1Char('%'));
            i += 2;
            continue;
        }
        if (next == QLatin1Char('@')) {
            if (nextArgument < arguments.size())
                result.append(argumentText(arguments.at(nextArgument)));
            else
                result.append(QStringView(format).mid(i, 2));
            ++nextArgument;
            i += 2;
            continue;
        }
        // Positional: '%', a position counted from 1, '$', '@'.
        qsizetype j = i + 1;
        qint64 position = 0;
        while (j < length && format.at(j).isDigit() && format.at(j).unicode() < 128 && position < 1'000'000) {
            position = position * 10 + (format.at(j).unicode() - '0');
            ++j;
        }
        if (j > i + 1 && j + 1 < length && format.at(j) == QLatin1Char('$') && format.at(j + 1) == QLatin1Char('@')) {
            const qsizetype end = j + 2;
            if (position >= 1 && position <= arguments.size())
                result.append(argumentText(arguments.at(position - 1)));
            else
                result.append(QStringView(format).mid(i, end - i));
            i = end;
            continue;
        }
        result.append(c);
        ++i;
    }
    return result;
}


struct PluralPair
{
    QString one;
    QString few;
};

const QHash<QString, PluralPair> &pluralTableFor(KavrelAppLanguage language)
{
    static const QHash<QString, PluralPair> none;
    if (language != KavrelAppLanguage::russian)
        return none;
    static const QHash<QString, PluralPair> table = [] {
        QHash<QString, PluralPair> built;
        for (const KavrelPluralForms &forms : KavrelLocalizationTables::pluralForms(KavrelAppLanguage::russian))
            built.insert(QString::fromUtf8(forms.key), {QString::fromUtf8(forms.one), QString::fromUtf8(forms.few)});
        return built;
    }();
    return table;
}

enum class RussianPlural { one, few, many };

// 1, 21, 101 take "one" (but 11, 111 do not); 2–4, 22–24 take "few" (but 12–14 do not);
// everything else, 0 included, takes "many".
RussianPlural russianPlural(quint64 count)
{
    const quint64 lastTwo = count % 100;
    const quint64 last = count % 10;
    if (last == 1 && lastTwo != 11)
        return RussianPlural::one;
    if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14))
        return RussianPlural::few;
    return RussianPlural::many;
}

std::optional<quint64> countOf(const QVariant &argument)
{
    bool ok = false;
    const qlonglong value = argumentText(argument).trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value < 0 ? quint64(-(value + 1)) + 1 : quint64(value);
}

// A composed error text's frame: the words between its placeholders.
struct MessageFormat
{
    QStringList literals; // one more than the placeholders
    QString translation;
    qsizetype literalLength = 0;
};

const std::vector<MessageFormat> &messageFormatsFor(KavrelAppLanguage language)
{
    static const std::vector<MessageFormat> none;
    if (language != KavrelAppLanguage::russian)
        return none;
    static const std::vector<MessageFormat> formats = [] {
        std::vector<MessageFormat> built;
        for (const KavrelTranslationPair &pair : KavrelLocalizationTables::russianErrorPairs()) {
            const QString key = QString::fromUtf8(pair.key);
            if (!key.contains(QLatin1String("%@")))
                continue;
            MessageFormat format;
            format.literals = key.split(QLatin1String("%@"));
            format.translation = QString::fromUtf8(pair.translation);
            for (const QString &literal : format.literals)
                format.literalLength += literal.size();
            built.push_back(std::move(format));
        }
        return built;
    }();
    return formats;
}

// The texts standing in the placeholders when `text` is written in `format`'s frame. The last
// words must end the text; every placeholder stands for at least one character.
std::optional<QStringList> matchMessage(const MessageFormat &format, const QString &text)
{
    const QStringList &literals = format.literals;
    if (!text.startsWith(literals.first()))
        return std::nullopt;
    qsizetype position = literals.first().size();
    QStringList parts;
    for (qsizetype i = 1; i < literals.size(); ++i) {
        const QString &literal = literals.at(i);
        qsizetype end = -1;
        if (i == literals.size() - 1) {
            if (!text.endsWith(literal))
                return std::nullopt;
            end = text.size() - literal.size();
            if (end <= position)
                return std::nullopt;
        } else {
            if (literal.isEmpty())
                return std::nullopt;
            end = text.indexOf(literal, position + 1);
            if (end < 0)
                return std::nullopt;
        }
        parts.append(text.mid(position, end - position));
        position = end + literal.size();
    }
    return parts;
}

} // namespace

KavrelLocalizationStore &KavrelLocalizationStore::shared()
{
    // The defaults are declared first so that they outlive the store at exit.
    static UserDefaults standardDefaults;
    static KavrelLocalizationStore store(standardDefaults);
    return store;
}

KavrelLocalizationStore::KavrelLocalizationStore(UserDefaults &defaults, QObject *parent)
    : QObject(parent), m_defaults(defaults)
{
    const std::optional<QString> stored = m_defaults.stringValue(QString::fromLatin1(languageDefaultsKey));
    if (stored) {
        const std::optional<KavrelAppLanguage> language = KavrelAppLanguages::fromRawValue(*stored);
        if (language && availableLanguages().contains(*language)) {
            m_language.store(*language, std::memory_order_relaxed);
            return;
        }
    }
    m_language.store(KavrelAppLanguage::russian, std::memory_order_relaxed);
    m_defaults.setString(QString::fromLatin1(languageDefaultsKey), KavrelAppLanguages::rawValue(KavrelAppLanguage::russian));
}

KavrelLocalizationStore::~KavrelLocalizationStore() = default;

QList<KavrelAppLanguage> KavrelLocalizationStore::availableLanguages()
{
    return {KavrelAppLanguage::russian};
}

void KavrelLocalizationStore::setLanguage(KavrelAppLanguage language)
{
    if (m_language.exchange(language, std::memory_order_relaxed) == language)
        return;
    Q_EMIT languageChanged(language);
}

QString KavrelLocalizationStore::localized(const QString &key) const
{
    return lookup(key, true);
}

QString KavrelLocalizationStore::lookup(const QString &key, bool recordMiss) const
{
    const QString trimmedKey = key.trimmed();
    if (trimmedKey.isEmpty())
        return key;
    const QHash<QString, QString> *table = tableFor(language());
    if (!table)
        return key;
    const auto hit = table->constFind(trimmedKey);
    if (hit == table->constEnd()) {
        if (recordMiss)
            this->recordMiss(trimmedKey);
        return key;
    }
    return hit.value();
}

QString KavrelLocalizationStore::localizedFormat(const QString &format, const QVariantList &arguments) const
{
    // Every conversion the tables use prints its argument as is, so the interface locale
    // has nothing to add here.
    const KavrelAppLanguage current = language();
    QString translated = lookup(format, true);
    if (!arguments.isEmpty()) {
        const QHash<QString, PluralPair> &plurals = pluralTableFor(current);
        const auto forms = plurals.constFind(format.trimmed());
        const std::optional<quint64> count = forms == plurals.constEnd() ? std::nullopt : countOf(arguments.first());
        if (count) {
            switch (russianPlural(*count)) {
            case RussianPlural::one: translated = forms->one; break;
            case RussianPlural::few: translated = forms->few; break;
            case RussianPlural::many: break;
            }
        }
    }
    return fillFormat(translated, arguments);
}

QString KavrelLocalizationStore::localizedFormat(const QString &format, const QStringList &arguments) const
{
    QVariantList variants;
    variants.reserve(arguments.size());
    for (const QString &argument : arguments)
        variants.append(argument);
    return localizedFormat(format, variants);
}

QString KavrelLocalizationStore::localizedLanguageName(KavrelAppLanguage language) const
{
    // Rows: the interface language; columns: the named language, both in declaration order.
    static constexpr const char *names[5][5] = {
        {"English", "Russian", "German", "Spanish", "French"},
        {"Английский", "Русский", "Немецкий", "Испанский", "Французский"},
        {"Englisch", "Russisch", "Deutsch", "Spanisch", "Französisch"},
        {"Inglés", "Ruso", "Alemán", "Español", "Francés"},
        {"Anglais", "Russe", "Allemand", "Espagnol", "Français"},
    };
    return QString::fromUtf8(names[int(this->language())][int(language)]);
}

QString KavrelLocalizationStore::localizedMessage(const QString &text) const
{
    const QString shown = messageInLanguage(text, 0);
    if (shown == text && tableFor(language()) && !text.trimmed().isEmpty())
        recordMiss(text.trimmed());
    return shown;
}

QString KavrelLocalizationStore::messageInLanguage(const QString &text, int depth) const
{
    const QString whole = lookup(text, false);
    if (whole != text)
        return whole;
    // Errors wrap one another only a few levels deep; a deeper text is read as given.
    if (depth > 4)
        return text;
    const MessageFormat *best = nullptr;
    QStringList bestParts;
    for (const MessageFormat &format : messageFormatsFor(language())) {
        if (best && format.literalLength <= best->literalLength)
            continue;
        if (std::optional<QStringList> parts = matchMessage(format, text)) {
            best = &format;
            bestParts = std::move(*parts);
        }
    }
    if (!best)
        return text;
    QVariantList arguments;
    for (const QString &part : bestParts)
        arguments.append(messageInLanguage(part, depth + 1));
    return fillFormat(best->translation, arguments);
}

void KavrelLocalizationStore::setRecordingMisses(bool recording)
{
    const std::lock_guard lock(m_missesMutex);
    m_isRecordingMisses.store(recording, std::memory_order_relaxed);
    if (recording)
        m_misses.clear();
}

QStringList KavrelLocalizationStore::recordedMisses() const
{
    const std::lock_guard lock(m_missesMutex);
    return m_misses;
}

void KavrelLocalizationStore::recordMiss(const QString &text) const
{
    if (!m_isRecordingMisses.load(std::memory_order_relaxed))
        return;
    const std::lock_guard lock(m_missesMutex);
    if (!m_misses.contains(text))
        m_misses.append(text);
}

bool KavrelLocalizationStore::installQtTranslations()
{
    if (!QCoreApplication::instance())
        return false;
    m_qtTranslator.reset(); // a translator takes itself out of the application when it goes
    if (language() == KavrelAppLanguage::english)
        return false;
    auto translator = std::make_unique<QTranslator>();
    const QString catalogue = QStringLiteral("qtbase_") + KavrelAppLanguages::rawValue(language());
    if (!translator->load(catalogue, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    m_qtTranslator = std::move(translator);
    return true;
}

void KavrelLocalizationStore::installBundleOverride()
{
    if (m_didInstallBundleOverride)
        return;
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    m_bundleTranslator = std::make_unique<KavrelBundleTranslator>(*this);
    QCoreApplication::installTranslator(m_bundleTranslator.get());
    m_didInstallBundleOverride = true;
}

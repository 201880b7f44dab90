#include "localization/KavrelLocalizationStore.h"
#include "localization/KavrelBundleTranslator.h"
#include "localization/KavrelLocalizationTables.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>
#include <QMetaType>

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
const QHash<QString, QString> *tableFor(KavrelAppLanguage language)
{
    switch (language) {
    case KavrelAppLanguage::english:
        return nullptr;
    case KavrelAppLanguage::russian: {
        static const QHash<QString, QString> table = buildTable(KavrelLocalizationTables::pairs(language));
        return &table;
    }
    case KavrelAppLanguage::german: {
        static const QHash<QString, QString> table = buildTable(KavrelLocalizationTables::pairs(language));
        return &table;
    }
    case KavrelAppLanguage::spanish: {
        static const QHash<QString, QString> table = buildTable(KavrelLocalizationTables::pairs(language));
        return &table;
    }
    case KavrelAppLanguage::french: {
        static const QHash<QString, QString> table = buildTable(KavrelLocalizationTables::pairs(language));
        return &table;
    }
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
    const QString trimmedKey = key.trimmed();
    if (trimmedKey.isEmpty())
        return key;
    const QHash<QString, QString> *table = tableFor(language());
    if (!table)
        return key;
    const auto hit = table->constFind(trimmedKey);
    if (hit == table->constEnd())
        return key;
    return hit.value();
}

QString KavrelLocalizationStore::localizedFormat(const QString &format, const QVariantList &arguments) const
{
    // Every conversion the tables use prints its argument as is, so the interface locale
    // has nothing to add here.
    return fillFormat(localized(format), arguments);
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

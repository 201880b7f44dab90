#include "localization/KavrelAppLanguage.h"
#include "localization/KavrelBundleTranslator.h"
#include "localization/KavrelLocalizationStore.h"
#include "localization/KavrelLocalizationTables.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <memory>
#include <optional>


namespace {

const QString languageKey = QStringLiteral("kavrel.uiLanguage");

// What main() saw when it installed the override before the application existed.
bool g_flagBeforeApplication = true;
bool g_flagAfterApplication = false;

QStringList conversions(const QString &text)
{
    static const QRegularExpression conversion(QStringLiteral("%(?:\\d+\\$)?[@%]|%[^@%]?"));
    QStringList found;
    for (const auto &match : conversion.globalMatch(text))
        found.append(match.captured());
    return found;
}

QSet<QString> keysOf(KavrelAppLanguage language)
{
    QSet<QString> keys;
    for (const auto &pair : KavrelLocalizationTables::pairs(language))
        keys.insert(QString::fromUtf8(pair.key));
    return keys;
}

// Answers every text, standing in for whatever Qt would answer when our translator is silent.
class EchoTranslator final : public QTranslator
{
public:
    QString translate(const char *, const char *sourceText, const char *, int) const override
    {
        return QStringLiteral("qt:") + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

struct Fixture
{
    QTemporaryDir dir;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<KavrelLocalizationStore> store;

    explicit Fixture(KavrelAppLanguage language = KavrelAppLanguage::russian)
    {
        defaults = std::make_unique<UserDefaults>(dir.filePath(QStringLiteral("preferences.ini")));
        store = std::make_unique<KavrelLocalizationStore>(*defaults);
        store->setLanguage(language);
    }
};

} // namespace

class tst_KavrelLocalizationStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void languageCodes();
    void tablesHoldTheirKeys();
    void rowsKeepPlaceholdersAndProductName();
    void pluralFormsKeepTheirFormat();
    void quotedRows_data();
    void quotedRows();
    void startupLanguage_data();
    void startupLanguage();
    void languageIsSettableButNeverStored();
    void lookup_data();
    void lookup();
    void formatting_data();
    void formatting();
    void formattingTakesTextArguments();
    void russianCountsTakeTheirForm_data();
    void russianCountsTakeTheirForm();
    void programErrorsReadInRussian_data();
    void programErrorsReadInRussian();
    void missesAreRecordedForTests();
    void qtCatalogueFollowsTheLanguage();
    void noRussianRowNamesAMacPlace();
    void languageNames_data();
    void languageNames();
    void translatorAnswersOnlyForOwnTexts_data();
    void translatorAnswersOnlyForOwnTexts();
    void bundleOverrideInstallsOnceAndLeavesWithTheStore();
    void bundleOverrideNeedsAnApplication();
};

void tst_KavrelLocalizationStore::languageCodes()
{
    QStringList codes;
    for (KavrelAppLanguage language : KavrelAppLanguages::allCases) {
        codes.append(KavrelAppLanguages::rawValue(language));
        QCOMPARE(KavrelAppLanguages::fromRawValue(codes.last()), language);
    }
    QCOMPARE(codes, (QStringList{"en", "ru", "de", "es", "fr"}));
    for (const char *notACode : {"", "RU", "ru-RU", " ru", "ru_RU", "english"})
        QVERIFY2(!KavrelAppLanguages::fromRawValue(QString::fromLatin1(notACode)), notACode);
}

void tst_KavrelLocalizationStore::tablesHoldTheirKeys()
{
    QVERIFY(KavrelLocalizationTables::pairs(KavrelAppLanguage::english).empty());
    for (KavrelAppLanguage language : KavrelAppLanguages::allCases) {
        // A key listed twice leaves one of its rows unreachable.
        const auto size = qsizetype(KavrelLocalizationTables::pairs(language).size());
        QCOMPARE(keysOf(language).size(), size);
    }
}

void tst_KavrelLocalizationStore::rowsKeepPlaceholdersAndProductName()
{
    const QString productName = QStringLiteral("КАВРЕЛ");
    for (KavrelAppLanguage language : KavrelAppLanguages::allCases) {
        for (const auto &pair : KavrelLocalizationTables::pairs(language)) {
            const QString key = QString::fromUtf8(pair.key);
            const QString translation = QString::fromUtf8(pair.translation);
            const QByteArray where = KavrelAppLanguages::rawValue(language).toUtf8() + ": " + pair.key;
            QVERIFY2(!translation.isEmpty(), where.constData());
            QVERIFY2(translation == translation.trimmed() && key == key.trimmed(), where.constData());
            QVERIFY2(!translation.contains(QLatin1Char('\n')), where.constData());
            QVERIFY2(conversions(key) == conversions(translation), where.constData());
            if (key.contains(productName))
                QVERIFY2(translation.contains(productName), where.constData());
        }
    }
}

void tst_KavrelLocalizationStore::pluralFormsKeepTheirFormat()
{
    const QSet<QString> russian = keysOf(KavrelAppLanguage::russian);
    QVERIFY(!KavrelLocalizationTables::pluralForms(KavrelAppLanguage::russian).empty());
    for (const KavrelPluralForms &forms : KavrelLocalizationTables::pluralForms(KavrelAppLanguage::russian)) {
        const QString key = QString::fromUtf8(forms.key);
        // The many form is the row itself; forms without one would never be reached.
        QVERIFY2(russian.contains(key), forms.key);
        QVERIFY2(conversions(QString::fromUtf8(forms.one)) == conversions(key), forms.key);
        QVERIFY2(conversions(QString::fromUtf8(forms.few)) == conversions(key), forms.key);
    }
    for (KavrelAppLanguage language : {KavrelAppLanguage::english, KavrelAppLanguage::german})
        QVERIFY(KavrelLocalizationTables::pluralForms(language).empty());
}

void tst_KavrelLocalizationStore::quotedRows_data()
{
    QTest::addColumn<KavrelAppLanguage>("language");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    struct Row
    {
        const char *key;
        const char *ru;
        const char *de;
        const char *es;
        const char *fr;
    };
    // nullptr: the table lacks the key, so the key itself shows.
    const Row rows[] = {
        {"Settings", "Настройки", "Einstellungen", "Configuración", "Réglages"},
        {"Check for Updates...", "Проверить обновления...", "Nach Updates suchen...", "Buscar actualizaciones...",
         "Rechercher les mises à jour..."},
        {"Start Listening", "Начать прослушивание", "Starten", "Empezar a escuchar", "Démarrer l’écoute"},
        {"Stop Listening", "Остановить прослушивание", "Stoppen", "Detener escucha", "Arrêter l’écoute"},
        {"Listening", "Слушает", "Hört zu", "Escuchando", "Écoute"},
        {"Show КАВРЕЛ", "Показать КАВРЕЛ", "КАВРЕЛ anzeigen", "Mostrar КАВРЕЛ", "Afficher КАВРЕЛ"},
        {"Update %@", "Обновить до %@", "Auf %@ aktualisieren", "Actualizar a %@", "Mettre à jour vers %@"},
        {"%@ words", "%@ слов", "%@ Wörter", "%@ palabras", "%@ mots"},
        {"Summary generated, but could not be saved: %@", "Саммари создано, но не удалось сохранить: %@",
         "Zusammenfassung erstellt, konnte aber nicht gespeichert werden: %@",
         "El resumen se generó, pero no se pudo guardar: %@",
         "Le résumé a été généré, mais n’a pas pu être enregistré : %@"},
        // Russian is the interface a user has: it holds the rows only the others held before.
        {"Setup %@%%", "Настройка %@%%", "Einrichtung %@%%", "Configuración %@%%", "Configuration %@%%"},
        {"Transcribe", "Транскрипт", "Transkript", "Transcripción", "Transcript"},
        {"Translate", "Перевод", "Übersetzung", "Traducción", "Traduction"},
        {"Email", "Email", "E-Mail", "Correo", "E-mail"},
        {"System", "Системная", "System", "Sistema", "Système"},
    };
    for (const Row &row : rows) {
        const std::pair<KavrelAppLanguage, const char *> cells[] = {{KavrelAppLanguage::russian, row.ru},
                                                                    {KavrelAppLanguage::german, row.de},
                                                                    {KavrelAppLanguage::spanish, row.es},
                                                                    {KavrelAppLanguage::french, row.fr}};
        for (const auto &[language, text] : cells) {
            const QByteArray tag = KavrelAppLanguages::rawValue(language).toUtf8() + ": " + row.key;
            QTest::newRow(tag.constData()) << language << QString::fromUtf8(row.key)
                                           << QString::fromUtf8(text ? text : row.key);
        }
    }

    const std::pair<const char *, const char *> russianRows[] = {
        {"Preparing session", "Подготавливаем сессию"},
        {"Ready to listen", "Готово к прослушиванию"},
        {"Listening stopped", "Прослушивание остановлено"},
        {"Grant access to continue", "Разрешите доступ, чтобы продолжить"},
        {"Select microphone", "Выбрать микрофон"},
        {"Refresh microphones", "Обновить микрофоны"},
        {"No microphone devices available", "Нет доступных микрофонов"},
        {"Quit КАВРЕЛ completely", "Полностью закрыть КАВРЕЛ"},
        {"%@ is required.", "Поле «%@» обязательно."},
        {"%@ min remaining", "Осталось %@ мин"},
        {"Used %@ min out of %@ min. %@ min remain in the current billing period.",
         "Использовано %@ мин из %@ мин. В текущем периоде осталось %@ мин."},
    };
    for (const auto &[key, text] : russianRows) {
        const QByteArray tag = QByteArray("ru: ") + key;
        QTest::newRow(tag.constData()) << KavrelAppLanguage::russian << QString::fromUtf8(key)
                                       << QString::fromUtf8(text);
    }
}

void tst_KavrelLocalizationStore::quotedRows()
{
    QFETCH(KavrelAppLanguage, language);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    Fixture fixture(language);
    QCOMPARE(fixture.store->localized(key), expected);
}

void tst_KavrelLocalizationStore::startupLanguage_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: nothing; Bool: a value of the wrong type
    QTest::addColumn<bool>("expectWrite");

    QTest::newRow("nothing stored") << QVariant() << true;
    QTest::newRow("ru") << QVariant(QStringLiteral("ru")) << false;
    QTest::newRow("de, valid but not available") << QVariant(QStringLiteral("de")) << true;
    QTest::newRow("en, valid but not available") << QVariant(QStringLiteral("en")) << true;
    QTest::newRow("RU") << QVariant(QStringLiteral("RU")) << true;
    QTest::newRow("ru-RU") << QVariant(QStringLiteral("ru-RU")) << true;
    QTest::newRow("empty") << QVariant(QString()) << true;
    QTest::newRow("a Bool under the key") << QVariant(true) << true;
}

void tst_KavrelLocalizationStore::startupLanguage()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, expectWrite);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("preferences.ini"));
    UserDefaults defaults(path);
    if (stored.typeId() == QMetaType::Bool)
        defaults.setBool(languageKey, stored.toBool());
    else if (stored.isValid())
        defaults.setString(languageKey, stored.toString());
    defaults.sync();
    QFile file(path);
    QByteArray before;
    if (file.open(QIODevice::ReadOnly))
        before = file.readAll();
    file.close();

    QSignalSpy writes(&defaults, &UserDefaults::valueChanged);
    KavrelLocalizationStore store(defaults);
    defaults.sync();

    QCOMPARE(store.language(), KavrelAppLanguage::russian);
    QCOMPARE(defaults.stringValue(languageKey), std::optional<QString>(QStringLiteral("ru")));
    QCOMPARE(writes.size(), expectWrite ? 1 : 0);
    if (!expectWrite) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
}

void tst_KavrelLocalizationStore::languageIsSettableButNeverStored()
{
    Fixture fixture;
    QSignalSpy writes(fixture.defaults.get(), &UserDefaults::valueChanged);
    QSignalSpy changes(fixture.store.get(), &KavrelLocalizationStore::languageChanged);

    fixture.store->setLanguage(KavrelAppLanguage::russian);
    QCOMPARE(changes.size(), 0);
    QVERIFY(fixture.store->setProperty("language", QVariant::fromValue(KavrelAppLanguage::german)));
    QCOMPARE(fixture.store->property("language").value<KavrelAppLanguage>(), KavrelAppLanguage::german);
    fixture.store->setLanguage(KavrelAppLanguage::german);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).value<KavrelAppLanguage>(), KavrelAppLanguage::german);
    QCOMPARE(fixture.store->localized(QStringLiteral("Settings")), QStringLiteral("Einstellungen"));

    QCOMPARE(writes.size(), 0);
    QCOMPARE(fixture.defaults->stringValue(languageKey), std::optional<QString>(QStringLiteral("ru")));
}

void tst_KavrelLocalizationStore::lookup_data()
{
    QTest::addColumn<KavrelAppLanguage>("language");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const auto ru = KavrelAppLanguage::russian;
    QTest::newRow("hit") << ru << "Settings" << "Настройки";
    QTest::newRow("white space around a hit is dropped") << ru << "  Settings\n" << "Настройки";
    QTest::newRow("inner white space is part of the key") << ru << "Start  Listening" << "Start  Listening";
    QTest::newRow("a miss keeps its white space") << ru << "  Not a key \n" << "  Not a key \n";
    QTest::newRow("empty") << ru << "" << "";
    QTest::newRow("white space only") << ru << " \t\n " << " \t\n ";
    QTest::newRow("keys are case-sensitive") << ru << "settings" << "settings";
    QTest::newRow("a translated text comes back unchanged") << ru << "Настройки" << "Настройки";
    QTest::newRow("ru holds the formerly German-only rows") << ru << "Setup %@%%" << "Настройка %@%%";
    QTest::newRow("de lacks a Russian-only row") << KavrelAppLanguage::german << "Usage this period" << "Usage this period";
    QTest::newRow("ru holds the formerly German-only rows 2") << ru << "Restart required" << "Требуется перезапуск";
    QTest::newRow("en returns the key") << KavrelAppLanguage::english << "Settings" << "Settings";
    QTest::newRow("en returns the key untrimmed") << KavrelAppLanguage::english << " Settings\n" << " Settings\n";
    QTest::newRow("de translates its own rows") << KavrelAppLanguage::german << "Listening stopped"
                                                << "Zuhören gestoppt";
    QTest::newRow("de lacks some Russian rows") << KavrelAppLanguage::german << "Usage this period"
                                                << "Usage this period";
    QTest::newRow("es has the billing rows") << KavrelAppLanguage::spanish << "Usage this period"
                                             << "Uso en este periodo";
    QTest::newRow("fr lacks the sign-in rows") << KavrelAppLanguage::french << "Password" << "Password";
}

void tst_KavrelLocalizationStore::lookup()
{
    QFETCH(KavrelAppLanguage, language);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    Fixture fixture(language);
    QCOMPARE(fixture.store->localized(key), expected);
}

void tst_KavrelLocalizationStore::formatting_data()
{
    QTest::addColumn<KavrelAppLanguage>("language");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<QString>("expected");

    const auto en = KavrelAppLanguage::english; // formats come back as given, so any text is a format
    QTest::newRow("de percent") << KavrelAppLanguage::german << "Setup %@%%" << QVariantList{40} << "Einrichtung 40%";
    QTest::newRow("ru number as written") << KavrelAppLanguage::russian << "Update %@" << QVariantList{1.2}
                                          << "Обновить до 1.2";
    QTest::newRow("ru no digit grouping") << KavrelAppLanguage::russian << "%@ words" << QVariantList{1234567}
                                          << "1234567 слов";
    QTest::newRow("ru three arguments")
        << KavrelAppLanguage::russian << "Used %@ min out of %@ min. %@ min remain in the current billing period."
        << QVariantList{15, 60, 45} << "Использовано 15 мин из 60 мин. В текущем периоде осталось 45 мин.";
    QTest::newRow("ru wrapped argument is not translated")
        << KavrelAppLanguage::russian << "%@ is required." << QVariantList{QStringLiteral("Password")}
        << "Поле «Password» обязательно.";
    QTest::newRow("ru miss still formats") << KavrelAppLanguage::russian << "Nothing here %@%%" << QVariantList{40}
                                           << "Nothing here 40%";
    QTest::newRow("ru percent") << KavrelAppLanguage::russian << "Setup %@%%" << QVariantList{75} << "Настройка 75%";
    QTest::newRow("de counts keep one form") << KavrelAppLanguage::german << "%@ words" << QVariantList{1}
                                             << "1 Wörter";
    QTest::newRow("whole double") << en << "%@" << QVariantList{2.0} << "2";
    QTest::newRow("negative integer") << en << "%@" << QVariantList{qint64(-7)} << "-7";
    QTest::newRow("missing argument stays visible") << en << "%@ of %@" << QVariantList{1} << "1 of %@";
    QTest::newRow("no arguments at all") << en << "Update %@%%" << QVariantList{} << "Update %@%";
    QTest::newRow("surplus arguments ignored") << en << "%@!" << QVariantList{"a", "b", "c"} << "a!";
    QTest::newRow("positional") << en << "%2$@ then %1$@" << QVariantList{"a", "b"} << "b then a";
    QTest::newRow("positional out of range") << en << "%3$@ %0$@" << QVariantList{"a"} << "%3$@ %0$@";
    QTest::newRow("huge position") << en << "%99999999999999999999$@" << QVariantList{"a"}
                                   << "%99999999999999999999$@";
    QTest::newRow("arguments are not formats") << en << "%@ and %@" << QVariantList{"%@ %%", "x"} << "%@ %% and x";
    QTest::newRow("other conversions copied") << en << "%d %s %1$d %" << QVariantList{1} << "%d %s %1$d %";
    QTest::newRow("unterminated positional") << en << "%1$" << QVariantList{"a"} << "%1$";
    QTest::newRow("lone percent at the end") << en << "100%" << QVariantList{} << "100%";
}

void tst_KavrelLocalizationStore::formatting()
{
    QFETCH(KavrelAppLanguage, language);
    QFETCH(QString, format);
    QFETCH(QVariantList, arguments);
    QFETCH(QString, expected);
    Fixture fixture(language);
    QCOMPARE(fixture.store->localizedFormat(format, arguments), expected);
}

void tst_KavrelLocalizationStore::formattingTakesTextArguments()
{
    Fixture fixture(KavrelAppLanguage::french);
    QCOMPARE(fixture.store->localizedFormat(QStringLiteral("Summary generated, but could not be saved: %@"),
                                            QStringList{QStringLiteral("disque plein")}),
             QStringLiteral("Le résumé a été généré, mais n’a pas pu être enregistré : disque plein"));
}

void tst_KavrelLocalizationStore::russianCountsTakeTheirForm_data()
{
    QTest::addColumn<QVariant>("count");
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("sessions");

    QTest::newRow("0") << QVariant(0) << "0 слов" << "0 строк" << "0 сессий";
    QTest::newRow("1") << QVariant(1) << "1 слово" << "1 строка" << "1 сессия";
    QTest::newRow("2") << QVariant(2) << "2 слова" << "2 строки" << "2 сессии";
    QTest::newRow("4") << QVariant(4) << "4 слова" << "4 строки" << "4 сессии";
    QTest::newRow("5") << QVariant(5) << "5 слов" << "5 строк" << "5 сессий";
    QTest::newRow("11") << QVariant(11) << "11 слов" << "11 строк" << "11 сессий";
    QTest::newRow("12") << QVariant(12) << "12 слов" << "12 строк" << "12 сессий";
    QTest::newRow("14") << QVariant(14) << "14 слов" << "14 строк" << "14 сессий";
    QTest::newRow("21") << QVariant(21) << "21 слово" << "21 строка" << "21 сессия";
    QTest::newRow("22") << QVariant(22) << "22 слова" << "22 строки" << "22 сессии";
    QTest::newRow("25") << QVariant(25) << "25 слов" << "25 строк" << "25 сессий";
    QTest::newRow("101") << QVariant(101) << "101 слово" << "101 строка" << "101 сессия";
    QTest::newRow("111") << QVariant(111) << "111 слов" << "111 строк" << "111 сессий";
    // Screens pass the count as text; it is read the same way.
    QTest::newRow("text 23") << QVariant(QStringLiteral("23")) << "23 слова" << "23 строки" << "23 сессии";
    QTest::newRow("text 1011") << QVariant(QStringLiteral("1011")) << "1011 слов" << "1011 строк" << "1011 сессий";
    QTest::newRow("negative 1") << QVariant(-1) << "-1 слово" << "-1 строка" << "-1 сессия";
    QTest::newRow("not a count") << QVariant(QStringLiteral("много")) << "много слов" << "много строк" << "много сессий";
}

void tst_KavrelLocalizationStore::russianCountsTakeTheirForm()
{
    QFETCH(QVariant, count);
    QFETCH(QString, words);
    QFETCH(QString, lines);
    QFETCH(QString, sessions);
    Fixture fixture;
    QCOMPARE(fixture.store->localizedFormat(QStringLiteral("%@ words"), QVariantList{count}), words);
    QCOMPARE(fixture.store->localizedFormat(QStringLiteral("%@ lines"), QVariantList{count}), lines);
    QCOMPARE(fixture.store->localizedFormat(QStringLiteral("%@ sessions"), QVariantList{count}), sessions);
    // The text overload callers use reads the same.
    QCOMPARE(fixture.store->localizedFormat(QStringLiteral("%@ words"), QStringList{count.toString()}), words);
}

void tst_KavrelLocalizationStore::programErrorsReadInRussian_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("whole text") << "Could not connect to the server." << "Не удалось подключиться к серверу.";
    QTest::newRow("frame around a cause")
        << "The app could not generate a summary: Could not connect to the server."
        << "Не удалось создать саммари: Не удалось подключиться к серверу.";
    QTest::newRow("frames nest")
        << "The app could not translate the final transcript: A network error occurred: The request timed out."
        << "Не удалось перевести окончательный транскрипт: Произошла ошибка сети: Время ожидания запроса истекло.";
    QTest::newRow("server's words stay")
        << "The AI backend returned an error: quota exceeded for model" << "AI-сервер вернул ошибку: quota exceeded for model";
    QTest::newRow("code and reason") << "The server closed the connection (code 1011): The request timed out."
                                     << "Сервер закрыл соединение (код 1011): Время ожидания запроса истекло.";
    QTest::newRow("code alone") << "The server closed the connection (code 1006)." << "Сервер закрыл соединение (код 1006).";
    QTest::newRow("status after the text")
        << "The app could not switch to the selected microphone. OSStatus: -5"
        << "Не удалось переключиться на выбранный микрофон. Код ошибки: -5";
    QTest::newRow("a stopped recording and why")
        << "Recording stopped: No space is left on the device."
        << "Запись остановлена: На устройстве не осталось свободного места.";
    QTest::newRow("a full disk and the kept file")
        << "The app could not write the M4A file: No space is left on the device. The recording up to that moment is kept: /home/u/Downloads/КАВРЕЛ/CapturedAudio-2026-03-03_14-05-09.m4a"
        << "Не удалось записать файл M4A: На устройстве не осталось свободного места. Запись до этого момента сохранена: /home/u/Downloads/КАВРЕЛ/CapturedAudio-2026-03-03_14-05-09.m4a";
    QTest::newRow("a lost microphone")
        << "Microphone capture failed: The microphone is no longer available."
        << "Ошибка захвата микрофона: Микрофон больше недоступен.";
    QTest::newRow("a failed recording and its kept file")
        << "The app could not write the M4A file. OSStatus: -28 The recording up to that moment is kept: /home/u/Downloads/КАВРЕЛ/CapturedAudio-2026-03-03_14-05-09.m4a"
        << "Не удалось записать файл M4A. Код ошибки: -28 Запись до этого момента сохранена: /home/u/Downloads/КАВРЕЛ/CapturedAudio-2026-03-03_14-05-09.m4a";
    QTest::newRow("reason and place")
        << "The data couldn't be read because it isn't in the correct format: missing key (feed.version)"
        << "Не удалось прочитать данные: неверный формат: нет ключа (feed.version)";
    QTest::newRow("a server's message") << "Invalid credentials" << "Invalid credentials";
    QTest::newRow("a server's message in parentheses") << "Bad gateway (upstream)" << "Bad gateway (upstream)";
    QTest::newRow("a near miss is not ours") << "The app could not generate a summary:" << "The app could not generate a summary:";
    QTest::newRow("screen key") << "Passwords do not match." << "Пароли не совпадают.";
    QTest::newRow("already Russian") << "Сервер истории встреч вернул некорректный ответ."
                                     << "Сервер истории встреч вернул некорректный ответ.";
    QTest::newRow("screen formats do not frame errors") << "Too many words" << "Too many words";
    QTest::newRow("empty") << "" << "";
}

void tst_KavrelLocalizationStore::programErrorsReadInRussian()
{
    QFETCH(QString, message);
    QFETCH(QString, expected);
    Fixture fixture;
    QCOMPARE(fixture.store->localizedMessage(message), expected);
    fixture.store->setLanguage(KavrelAppLanguage::english);
    QCOMPARE(fixture.store->localizedMessage(message), message);
}

void tst_KavrelLocalizationStore::missesAreRecordedForTests()
{
    Fixture fixture;
    KavrelLocalizationStore &store = *fixture.store;
    store.localized(QStringLiteral("Not a key before recording"));
    store.setRecordingMisses(true);
    store.localized(QStringLiteral("Settings"));
    store.localized(QStringLiteral("  Not a key  "));
    store.localized(QStringLiteral("Not a key"));
    store.localizedFormat(QStringLiteral("%@ things"), QVariantList{3});
    store.localizedMessage(QStringLiteral("The app could not generate a summary: quota exceeded"));
    store.localizedMessage(QStringLiteral("A server's own words"));
    store.localized(QString());
    QCOMPARE(store.recordedMisses(),
             (QStringList{"Not a key", "%@ things", "A server's own words"}));

    // English has no table, so nothing is missing there.
    store.setRecordingMisses(true);
    store.setLanguage(KavrelAppLanguage::english);
    store.localized(QStringLiteral("Not a key"));
    QVERIFY(store.recordedMisses().isEmpty());

    store.setRecordingMisses(false);
    store.setLanguage(KavrelAppLanguage::russian);
    store.localized(QStringLiteral("Not a key"));
    QVERIFY(store.recordedMisses().isEmpty());
}

void tst_KavrelLocalizationStore::qtCatalogueFollowsTheLanguage()
{
    // Qt's own words: the standard buttons and the context menu of selectable text.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    {
        Fixture fixture;
        QVERIFY2(fixture.store->installQtTranslations(), "qtbase_ru.qm is missing: scripts/install-deps installs it");
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
        QCOMPARE(QCoreApplication::translate("QWidgetTextControl", "Select All"), QStringLiteral("Выделить всё"));
        QCOMPARE(QCoreApplication::translate("QWidgetTextControl", "&Copy"), QStringLiteral("&Копировать"));

        fixture.store->setLanguage(KavrelAppLanguage::english);
        QVERIFY(!fixture.store->installQtTranslations());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));

        fixture.store->setLanguage(KavrelAppLanguage::russian);
        QVERIFY(fixture.store->installQtTranslations());
    }
    // The catalogue goes with its store.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

void tst_KavrelLocalizationStore::noRussianRowNamesAMacPlace()
{
    // A Linux user has no menu bar, Finder, System Settings or Keychain; the rows name the tray,
    // the file manager, the sound settings and the password store.
    static const QRegularExpression macPlace(
        QStringLiteral("macOS|Finder|строк[аеиу] меню|Системные настройки|верхней панели|Связк"));
    for (const auto &pair : KavrelLocalizationTables::pairs(KavrelAppLanguage::russian)) {
        const QString translation = QString::fromUtf8(pair.translation);
        QVERIFY2(!translation.contains(macPlace), pair.key);
    }
}

void tst_KavrelLocalizationStore::languageNames_data()
{
    QTest::addColumn<KavrelAppLanguage>("interface");
    QTest::addColumn<KavrelAppLanguage>("named");
    QTest::addColumn<QString>("expected");

    QTest::newRow("en en") << KavrelAppLanguage::english << KavrelAppLanguage::english << "English";
    QTest::newRow("en fr") << KavrelAppLanguage::english << KavrelAppLanguage::french << "French";
    QTest::newRow("ru ru") << KavrelAppLanguage::russian << KavrelAppLanguage::russian << "Русский";
    QTest::newRow("ru de") << KavrelAppLanguage::russian << KavrelAppLanguage::german << "Немецкий";
    QTest::newRow("de es") << KavrelAppLanguage::german << KavrelAppLanguage::spanish << "Spanisch";
    QTest::newRow("es de") << KavrelAppLanguage::spanish << KavrelAppLanguage::german << "Alemán";
    QTest::newRow("fr en") << KavrelAppLanguage::french << KavrelAppLanguage::english << "Anglais";
    QTest::newRow("fr fr") << KavrelAppLanguage::french << KavrelAppLanguage::french << "Français";
}

void tst_KavrelLocalizationStore::languageNames()
{
    QFETCH(KavrelAppLanguage, interface);
    QFETCH(KavrelAppLanguage, named);
    QFETCH(QString, expected);
    Fixture fixture(interface);
    QCOMPARE(fixture.store->localizedLanguageName(named), expected);
}

void tst_KavrelLocalizationStore::translatorAnswersOnlyForOwnTexts_data()
{
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("own window title") << QByteArray("KavrelMainWindow") << QByteArray("Settings") << "Настройки";
    QTest::newRow("own tooltip") << QByteArray("WorkspaceToolbar")
                                 << QByteArray("Resize transcript and translation panels")
                                 << "Изменить размер панелей транскрипта и перевода";
    QTest::newRow("own text without a row") << QByteArray("WorkspaceToolbar") << QByteArray("Not one of ours")
                                            << "qt:Not one of ours";
    QTest::newRow("context with Q and lower case is ours") << QByteArray("QuickPanel") << QByteArray("Cancel")
                                                           << "Отмена";
    QTest::newRow("translation equal to key") << QByteArray("ProfileScreen") << QByteArray("Email") << "qt:Email";
    QTest::newRow("Qt button box") << QByteArray("QPlatformTheme") << QByteArray("Cancel") << "qt:Cancel";
    QTest::newRow("Qt dialog buttons") << QByteArray("QDialogButtonBox") << QByteArray("Open") << "qt:Open";
    QTest::newRow("Qt file dialog") << QByteArray("QFileDialog") << QByteArray("Back") << "qt:Back";
    QTest::newRow("Qt module context") << QByteArray("QtWaylandClient") << QByteArray("Copy") << "qt:Copy";
    QTest::newRow("Qt tab close button") << QByteArray("CloseButton") << QByteArray("Open") << "qt:Open";
}

void tst_KavrelLocalizationStore::translatorAnswersOnlyForOwnTexts()
{
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QFETCH(QString, expected);

    // Installed first, so it is asked only after ours stays silent.
    EchoTranslator qtTranslations;
    QVERIFY(QCoreApplication::installTranslator(&qtTranslations));
    Fixture fixture;
    fixture.store->installBundleOverride();
    QVERIFY(fixture.store->didInstallBundleOverride());

    QCOMPARE(QCoreApplication::translate(context.constData(), source.constData()), expected);
    QCoreApplication::removeTranslator(&qtTranslations);
}

void tst_KavrelLocalizationStore::bundleOverrideInstallsOnceAndLeavesWithTheStore()
{
    auto fixture = std::make_unique<Fixture>();
    QVERIFY(!fixture->store->didInstallBundleOverride());
    fixture->store->installBundleOverride();
    fixture->store->installBundleOverride();
    QVERIFY(fixture->store->didInstallBundleOverride());
    QCOMPARE(QCoreApplication::translate("KavrelMenu", "Quit КАВРЕЛ completely"),
             QStringLiteral("Полностью закрыть КАВРЕЛ"));

    // The translator follows the store's language, not the one at installation.
    fixture->store->setLanguage(KavrelAppLanguage::german);
    QCOMPARE(QCoreApplication::translate("KavrelMenu", "Quit КАВРЕЛ completely"),
             QStringLiteral("КАВРЕЛ vollständig beenden"));

    // A store that goes away takes its translator along; a second copy left installed would
    // be read after it was freed.
    fixture.reset();
    QCOMPARE(QCoreApplication::translate("KavrelMenu", "Quit КАВРЕЛ completely"),
             QStringLiteral("Quit КАВРЕЛ completely"));
}

void tst_KavrelLocalizationStore::bundleOverrideNeedsAnApplication()
{
    QVERIFY2(!g_flagBeforeApplication, "installing before the application existed must leave the flag unset");
    QVERIFY2(g_flagAfterApplication, "the same store must install once the application exists");
}

int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore early(defaults);
    early.installBundleOverride();
    g_flagBeforeApplication = early.didInstallBundleOverride();

    QCoreApplication application(argc, argv);
    early.installBundleOverride();
    g_flagAfterApplication = early.didInstallBundleOverride();
    // Keep the early store's translator out of the tests' way.
    early.setLanguage(KavrelAppLanguage::english);

    tst_KavrelLocalizationStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelLocalizationStore.moc"

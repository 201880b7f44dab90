#include "history/KavrelHistoryLabels.h"

#include "localization/KavrelLocalizationStore.h"
#include "base/Text.h"
#include "session/SessionModel.h"

#include <QLocale>
#include <QPair>
#include <QStringList>

namespace KavrelHistoryLabels {

QString durationLabel(const std::optional<qint64> &durationSeconds)
{
    if (!durationSeconds || *durationSeconds < 1)
        return QStringLiteral("00:00");
    const qint64 seconds = *durationSeconds;
    if (seconds < 3600)
        return QString::asprintf("%02lld:%02lld", (seconds % 3600) / 60, seconds % 60);
    return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
}

std::optional<QString> languagePairLabel(const MeetingSessionHistoryListItem &item,
                                         const KavrelLocalizationStore &localization)
{
    if (!item.inputLanguage)
        return std::nullopt;
    const QString input = languageCode(*item.inputLanguage);
    if (item.translationEnabled && item.translationLanguage)
        return input + QStringLiteral(" -> ") + languageCode(*item.translationLanguage);
    return input + QStringLiteral(" \u2022 ") + localization.localized(QStringLiteral("No translation"));
}

QString statusLabel(const QString &status, const KavrelLocalizationStore &localization)
{
    const QString lowered = status.toLower();
    if (lowered == QLatin1String("completed"))
        return localization.localized(QStringLiteral("Completed"));
    if (lowered == QLatin1String("active"))
        return localization.localized(QStringLiteral("Active"));
    return status;
}

QString displayTitle(const std::optional<QString> &title, const std::optional<QString> &previewText,
                     const KavrelLocalizationStore &localization)
{
    if (auto text = Text::nilIfEmpty(title))
        return *text;
    if (auto text = Text::nilIfEmpty(previewText))
        return *text;
    return localization.localized(QStringLiteral("Untitled"));
}

QString audioSourceLabel(const QString &source, const KavrelLocalizationStore &localization)
{
    // The values a listening session stores (system audio, with the microphone mixed in or not,
    // or the microphone alone).
    static const QPair<QLatin1String, const char *> words[] = {
        {QLatin1String("system_audio+microphone"), "System audio and microphone"},
        {QLatin1String("system_audio"), "System audio"},
        {QLatin1String("microphone"), "Microphone"},
    };
    const QString key = source.trimmed().toLower();
    for (const auto &[stored, text] : words) {
        if (key == stored)
            return localization.localized(QString::fromLatin1(text));
    }
    return source;
}

namespace {

std::optional<SourceLanguageOption> storedLanguage(const QString &stored)
{
    const QString key = stored.trimmed();
    for (SourceLanguageOption option : SourceLanguageOptions::allCases) {
        if (key.compare(SourceLanguageOptions::code(option), Qt::CaseInsensitive) == 0
            || key.compare(SourceLanguageOptions::englishName(option), Qt::CaseInsensitive) == 0)
            return option;
    }
    return std::nullopt;
}

} // namespace

QString languageName(const QString &stored, const KavrelLocalizationStore &localization)
{
    if (const std::optional<SourceLanguageOption> option = storedLanguage(stored))
        return localization.localizedLanguageName(SourceLanguageOptions::interfaceLanguage(*option));
    return stored.toUpper();
}

QString languageCode(const QString &stored)
{
    if (const std::optional<SourceLanguageOption> option = storedLanguage(stored))
        return SourceLanguageOptions::code(*option).toUpper();
    return stored.toUpper();
}

FooterLines footerLines(const MeetingSessionHistoryDetail &detail, const KavrelLocalizationStore &localization)
{
    QStringList first{statusLabel(detail.status, localization)};
    if (detail.sessionParams) {
        if (auto source = Text::nilIfEmpty(detail.sessionParams->source))
            first.append(audioSourceLabel(*source, localization));
    }
    if (auto app = Text::nilIfEmpty(detail.processedByApp)) {
        first.append(*app);
    } else if (detail.sessionParams) {
        if (auto client = Text::nilIfEmpty(detail.sessionParams->client))
            first.append(*client);
    }
    if (auto microphone = Text::nilIfEmpty(detail.microphoneLabel))
        first.append(*microphone);

    QStringList second;
    if (detail.inputLanguage)
        second.append(languageName(*detail.inputLanguage, localization));
    second.append(detail.translationLanguage ? languageName(*detail.translationLanguage, localization)
                                             : localization.localized(QStringLiteral("No translation")));

    FooterLines lines;
    lines.first = first.join(QStringLiteral(" \u2022 "));
    lines.second = second.join(QStringLiteral(" -> "));
    return lines;
}

QString formattedForHistory(const QDateTime &date, KavrelAppLanguage language)
{
    const QLocale locale(KavrelAppLanguages::rawValue(language));
    // The locale's long date without the weekday and with abbreviated month names reads
    // like a medium date ("Mar 14, 2025", "14 мар. 2025 г.").
    QString dateFormat = locale.dateFormat(QLocale::LongFormat);
    dateFormat.remove(QStringLiteral("dddd, ")).remove(QStringLiteral("dddd "));
    dateFormat.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    const QDateTime local = date.toLocalTime();
    return locale.toString(local.date(), dateFormat) + QStringLiteral(", ")
           + locale.toString(local.time(), locale.timeFormat(QLocale::ShortFormat));
}

} // namespace KavrelHistoryLabels

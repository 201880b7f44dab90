#include "session/SessionModel.h"

namespace {

// The five languages and their fixed attributes, by the order of SourceLanguageOption.
struct LanguageRow
{
    const char *caseName;
    const char *code;
    const char *englishName;
    KavrelAppLanguage interfaceLanguage;
};

constexpr std::array<LanguageRow, 5> languageRows = {{
    {"russian", "ru", "Russian", KavrelAppLanguage::russian},
    {"english", "en", "English", KavrelAppLanguage::english},
    {"german", "de", "German", KavrelAppLanguage::german},
    {"spanish", "es", "Spanish", KavrelAppLanguage::spanish},
    {"french", "fr", "French", KavrelAppLanguage::french},
}};

const LanguageRow &rowOf(SourceLanguageOption option)
{
    return languageRows[std::size_t(option)];
}

const LanguageRow &rowOf(TranslationLanguageOption option)
{
    switch (option) {
    case TranslationLanguageOption::english:
        return languageRows[1];
    case TranslationLanguageOption::russian:
        return languageRows[0];
    case TranslationLanguageOption::german:
        return languageRows[2];
    case TranslationLanguageOption::spanish:
        return languageRows[3];
    case TranslationLanguageOption::french:
        return languageRows[4];
    }
    return languageRows[1];
}

} // namespace

namespace SubtitleStatuses {

QString rawValue(SubtitleStatus status)
{
    switch (status) {
    case SubtitleStatus::idle:
        return QStringLiteral("Idle");
    case SubtitleStatus::listening:
        return QStringLiteral("Listening");
    case SubtitleStatus::stopped:
        return QStringLiteral("Stopped");
    }
    return QStringLiteral("Idle");
}

std::optional<SubtitleStatus> fromRawValue(const QString &raw)
{
    for (auto status : {SubtitleStatus::idle, SubtitleStatus::listening, SubtitleStatus::stopped}) {
        if (rawValue(status) == raw)
            return status;
    }
    return std::nullopt;
}

} // namespace SubtitleStatuses

namespace SourceLanguageOptions {

QString rawValue(SourceLanguageOption option)
{
    return QString::fromLatin1(rowOf(option).caseName);
}

std::optional<SourceLanguageOption> fromRawValue(const QString &raw)
{
    for (auto option : allCases) {
        if (rawValue(option) == raw)
            return option;
    }
    return std::nullopt;
}

QString code(SourceLanguageOption option)
{
    return QString::fromLatin1(rowOf(option).code);
}

QString englishName(SourceLanguageOption option)
{
    return QString::fromLatin1(rowOf(option).englishName);
}

KavrelAppLanguage interfaceLanguage(SourceLanguageOption option)
{
    return rowOf(option).interfaceLanguage;
}

} // namespace SourceLanguageOptions

namespace TranslationLanguageOptions {

QString rawValue(TranslationLanguageOption option)
{
    return QString::fromLatin1(rowOf(option).caseName);
}

std::optional<TranslationLanguageOption> fromRawValue(const QString &raw)
{
    for (auto option : allCases) {
        if (rawValue(option) == raw)
            return option;
    }
    return std::nullopt;
}

QString code(TranslationLanguageOption option)
{
    return QString::fromLatin1(rowOf(option).code);
}

QString englishName(TranslationLanguageOption option)
{
    return QString::fromLatin1(rowOf(option).englishName);
}

KavrelAppLanguage interfaceLanguage(TranslationLanguageOption option)
{
    return rowOf(option).interfaceLanguage;
}

} // namespace TranslationLanguageOptions

bool isSameLanguage(SourceLanguageOption source, TranslationLanguageOption target)
{
    return &rowOf(source) == &rowOf(target);
}

namespace ListeningSessionStartModes {

QString caseName(ListeningSessionStartMode mode)
{
    return mode == ListeningSessionStartMode::newSession ? QStringLiteral("newSession")
                                                         : QStringLiteral("continuePrevious");
}

} // namespace ListeningSessionStartModes

MeetingSettings MeetingSettings::continuedWith(const MeetingSettings &next) const
{
    MeetingSettings settings = *this;
    if (!settings.isTranslationEnabled && next.isTranslationEnabled) {
        settings.isTranslationEnabled = true;
        settings.translationLanguage = next.translationLanguage;
    }
    settings.isAudioRecordingEnabled = settings.isAudioRecordingEnabled || next.isAudioRecordingEnabled;
    if (settings.microphoneName.trimmed().isEmpty())
        settings.microphoneName = next.microphoneName;
    return settings;
}

#pragma once

// Records, rows and a localization store shared by the history tests.

#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "services/MeetingSessionHistoryTypes.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTimeZone>

#include <memory>

namespace HistoryTestData {

inline QDateTime startTime()
{
    return QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53), QTimeZone::utc());
}

inline MeetingSessionHistoryListItem row(const QString &id, std::optional<QString> title = std::nullopt)
{
    MeetingSessionHistoryListItem item;
    item.id = id;
    item.title = title ? title : std::optional<QString>(QStringLiteral("Meeting ") + id);
    item.status = QStringLiteral("completed");
    item.startedAt = startTime();
    item.updatedAt = startTime();
    return item;
}

inline MeetingSessionHistoryListPage page(const QStringList &ids, std::optional<QString> cursor = std::nullopt)
{
    MeetingSessionHistoryListPage result;
    for (const QString &id : ids)
        result.items.append(row(id));
    result.nextCursor = cursor;
    return result;
}

inline MeetingSessionHistoryDetail record(const QString &id, std::optional<QString> transcriptText = std::nullopt)
{
    MeetingSessionHistoryDetail detail;
    detail.id = id;
    detail.title = QStringLiteral("Meeting ") + id;
    detail.status = QStringLiteral("completed");
    detail.startedAt = startTime();
    detail.updatedAt = startTime();
    detail.inputLanguage = QStringLiteral("en");
    detail.transcriptText = transcriptText;
    detail.revision = 3;
    return detail;
}

// A store in the given language over a temporary settings file.
struct Localization
{
    explicit Localization(KavrelAppLanguage language = KavrelAppLanguage::english)
        : defaults(std::make_unique<UserDefaults>(dir.filePath(QStringLiteral("defaults.ini"))))
        , store(std::make_unique<KavrelLocalizationStore>(*defaults))
    {
        store->setLanguage(language);
    }

    QTemporaryDir dir;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<KavrelLocalizationStore> store;
};

} // namespace HistoryTestData

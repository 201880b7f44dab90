#include "history/KavrelHistoryDetailTab.h"

namespace KavrelHistoryDetailTabs {

QString rawValue(KavrelHistoryDetailTab tab)
{
    switch (tab) {
    case KavrelHistoryDetailTab::transcribe:
        return QStringLiteral("transcribe");
    case KavrelHistoryDetailTab::translate:
        return QStringLiteral("translate");
    case KavrelHistoryDetailTab::summary:
        return QStringLiteral("summary");
    }
    return QString();
}

std::optional<KavrelHistoryDetailTab> fromRawValue(const QString &raw)
{
    for (KavrelHistoryDetailTab tab : allCases) {
        if (rawValue(tab) == raw)
            return tab;
    }
    return std::nullopt;
}

QString titleKey(KavrelHistoryDetailTab tab)
{
    switch (tab) {
    case KavrelHistoryDetailTab::transcribe:
        return QStringLiteral("Transcribe");
    case KavrelHistoryDetailTab::translate:
        return QStringLiteral("Translate");
    case KavrelHistoryDetailTab::summary:
        return QStringLiteral("Summary");
    }
    return QString();
}

QString iconName(KavrelHistoryDetailTab tab)
{
    switch (tab) {
    case KavrelHistoryDetailTab::transcribe:
        return QStringLiteral("text.alignleft");
    case KavrelHistoryDetailTab::translate:
        return QStringLiteral("globe");
    case KavrelHistoryDetailTab::summary:
        return QStringLiteral("sparkles");
    }
    return QString();
}

} // namespace KavrelHistoryDetailTabs

#pragma once

#include <QString>

#include <array>
#include <optional>

// The tabs of the history detail sheet, in the order the tab bar shows them.
enum class KavrelHistoryDetailTab { transcribe, translate, summary };

namespace KavrelHistoryDetailTabs {

inline constexpr std::array<KavrelHistoryDetailTab, 3> allCases = {
    KavrelHistoryDetailTab::transcribe, KavrelHistoryDetailTab::translate, KavrelHistoryDetailTab::summary};

// "transcribe", "translate" or "summary".
QString rawValue(KavrelHistoryDetailTab tab);
// Exactly one of the three raw values, case-sensitive and untrimmed.
std::optional<KavrelHistoryDetailTab> fromRawValue(const QString &raw);

// The English interface key of the tab's label (also its tooltip).
QString titleKey(KavrelHistoryDetailTab tab);
// The symbol name of the tab's icon.
QString iconName(KavrelHistoryDetailTab tab);

} // namespace KavrelHistoryDetailTabs

#pragma once

#include <QString>

#include <array>
#include <optional>

// The sections of the workspace shell, in the order of the sidebar's buttons.
enum class KavrelAppSection { workspace, profile, history };

namespace KavrelAppSections {

inline constexpr std::array<KavrelAppSection, 3> allCases = {
    KavrelAppSection::workspace, KavrelAppSection::profile, KavrelAppSection::history};

// "workspace", "profile" or "history".
QString rawValue(KavrelAppSection section);
// Exactly one of the three raw values; any other text is no section.
std::optional<KavrelAppSection> fromRawValue(const QString &raw);
// The English interface key of the section's title.
QString titleKey(KavrelAppSection section);
// The symbol of the section's sidebar button.
QString systemImage(KavrelAppSection section);

} // namespace KavrelAppSections

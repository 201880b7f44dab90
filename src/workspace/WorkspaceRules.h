#pragma once

#include "session/SessionModel.h"

#include <QList>
#include <QString>

#include <optional>

// What the main window shows for a given state: the rules its widgets follow, kept apart
// from the widgets so they can be checked without drawing anything.
namespace WorkspaceRules {

// True when the text, trimmed of white space and newlines, is not empty.
bool hasText(const QString &text);

// Start/stop button of the toolbar.
struct PrimaryActionState
{
    bool hasActiveSession = false;
    bool isBusy = false;
    bool isMicrophoneBusy = false;
    bool isRestoringSession = false;
    bool isAuthenticated = false;
    bool isSystemAudioListening = false;
};
bool primaryActionDisabled(const PrimaryActionState &state);

// Text size of a column: 12 to 30 in steps of 2.
inline constexpr double smallestFontSize = 12;
inline constexpr double largestFontSize = 30;
bool canDecreaseFontSize(double size);
bool canIncreaseFontSize(double size);
double decreasedFontSize(double size);
double increasedFontSize(double size);

// "Clear subtitles" has something to clear (plain emptiness: white space counts).
bool canClearSubtitles(const QString &subtitlesText, const QString &translatedText, const QString &liveSubtitlePreview);

// What a text column shows under its header.
enum class ColumnBody { history, summary, protocol, answer };
ColumnBody transcriptBody(bool summaryVisible, bool protocolVisible, bool usesScrollableRowsWorkspace);
ColumnBody translationBody(bool summaryVisible, bool protocolVisible, bool answerVisible,
                           bool usesScrollableRowsWorkspace);

// The history panel shows its placeholder when it has no rows and neither text nor preview.
bool showsHistoryPlaceholder(int rowCount, const QString &text, const QString &preview);

// The state an AI result panel shows: loading wins, then an error (even an empty one), then
// a result (even one of white space), else the empty placeholder.
enum class ResultContent { loading, error, result, empty };
ResultContent resultContent(bool isLoading, const std::optional<QString> &errorMessage, const QString &text);
bool resultCopyEnabled(bool isLoading, const QString &text);

// How many of the four microphone level bars are lit: bar i lights at (i + 1) / 4.
int litLevelBars(double level);

// The key whose change scrolls a dialogue panel to its end: the row count, the last row's
// identity, length and draft flag, and the trimmed live draft.
QString scrollSignature(int rowCount, const DialogueEntry *lastRow, const QString &draftText);

} // namespace WorkspaceRules

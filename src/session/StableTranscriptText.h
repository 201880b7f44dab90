#pragma once

#include "accounts/ChatCompletionMessages.h"
#include "session/SessionModel.h"

#include <QDateTime>

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The text side of rewriting closed turns into stable text: the prompt sent to the chat
// model, the reading of its JSON reply, and the splitting of a block translation back into
// one line per turn. Transcript lines look like "[HH:mm:ss] text".
namespace StableTranscriptText {

inline constexpr const char *model = "deepseek-chat";
inline constexpr int maxTokens = 900;

// A turn's time as transcript lines show it: "HH:mm:ss", 24-hour, local time.
QString timestampText(const QDateTime &timestamp);
// "[HH:mm:ss] text" per turn (the text as stored), joined with "\n".
QString transcriptLines(const std::vector<SessionTurn> &turns);

// The window of closed turns to rewrite next: up to two closed turns that are already stable,
// as context, and up to five that are not. `first` and `last` are indices of `turns` (open
// turns between them belong to the window); stableStartOffset counts closed turns only.
struct StableWindow
{
    int first = 0;
    int end = 0; // one past the last turn
    int stableStartOffset = 0;

    bool operator==(const StableWindow &) const = default;
};
std::optional<StableWindow> stableWindowSelection(const std::vector<SessionTurn> &turns, int nextStableTurnIndex);

// The fingerprint of a window's turns: ids, times, labels, texts and closed flags.
QString stableWindowSignature(const std::vector<SessionTurn> &window);

// The rewrite request for the window's transcript lines (already joined with "\n").
KavrelChatCompletionRequest reconstructionRequest(const QString &transcriptLines);

// Trims the reply and removes a surrounding ``` fence (with or without a language tag).
QString stripMarkdownCodeFence(const QString &text);

// The "text" of every element of a reply shaped [{"timestamp": "...", "speaker": "...",
// "text": "..."}], in order ("speaker" may be absent or null). Nothing when the reply is not
// such an array: one bad element fails it all.
std::optional<QStringList> structuredDialogueTexts(const QString &reply);

// The text after a leading "[HH:mm:ss]" time stamp and the blanks after it, or nothing when
// the line does not start with one.
std::optional<QString> textAfterTimestamp(const QString &line);

struct TranslatedLine
{
    std::optional<QString> speakerLabel;
    QString text;

    bool operator==(const TranslatedLine &) const = default;
};

// One entry per non-blank line of a translated block: the time stamp dropped, and a short
// leading "Label:" taken apart from the text.
QList<TranslatedLine> parseTranslatedStableLines(const QString &text);

// The translation text of a turn made from one translated line.
QString translationText(const TranslatedLine &line);

} // namespace StableTranscriptText

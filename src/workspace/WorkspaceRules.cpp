#include "workspace/WorkspaceRules.h"

#include "base/Text.h"

#include <algorithm>

namespace WorkspaceRules {

bool hasText(const QString &text)
{
    return !Text::trimmed(text).isEmpty();
}

bool primaryActionDisabled(const PrimaryActionState &state)
{
    if (state.hasActiveSession)
        return state.isBusy || state.isMicrophoneBusy;
    return state.isRestoringSession || !state.isAuthenticated || state.isSystemAudioListening || state.isBusy;
}

bool canDecreaseFontSize(double size)
{
    return size > smallestFontSize;
}

bool canIncreaseFontSize(double size)
{
    return size < largestFontSize;
}

double decreasedFontSize(double size)
{
    return std::max(size - 2, smallestFontSize);
}

double increasedFontSize(double size)
{
    return std::min(size + 2, largestFontSize);
}

bool canClearSubtitles(const QString &subtitlesText, const QString &translatedText, const QString &liveSubtitlePreview)
{
    return !subtitlesText.isEmpty() || !translatedText.isEmpty() || !liveSubtitlePreview.isEmpty();
}

ColumnBody transcriptBody(bool summaryVisible, bool protocolVisible, bool usesScrollableRowsWorkspace)
{
    if (summaryVisible && !usesScrollableRowsWorkspace)
        return ColumnBody::summary;
    if (protocolVisible)
        return ColumnBody::protocol;
    return ColumnBody::history;
}

ColumnBody translationBody(bool summaryVisible, bool protocolVisible, bool answerVisible, bool usesScrollableRowsWorkspace)
{
    if (summaryVisible && !usesScrollableRowsWorkspace)
        return ColumnBody::summary;
    if (protocolVisible)
        return ColumnBody::protocol;
    if (answerVisible)
        return ColumnBody::answer;
    return ColumnBody::history;
}

bool showsHistoryPlaceholder(int rowCount, const QString &text, const QString &preview)
{
    return rowCount == 0 && !hasText(text) && !hasText(preview);
}

ResultContent resultContent(bool isLoading, const std::optional<QString> &errorMessage, const QString &text)
{
    if (isLoading)
        return ResultContent::loading;
    if (errorMessage)
        return ResultContent::error;
    if (!text.isEmpty())
        return ResultContent::result;
    return ResultContent::empty;
}

bool resultCopyEnabled(bool isLoading, const QString &text)
{
    return !isLoading && !text.isEmpty();
}

int litLevelBars(double level)
{
    int lit = 0;
    // A NaN fails every comparison and lights nothing.
    for (int bar = 0; bar < 4; ++bar) {
        if ((bar + 1) * 0.25 <= level)
            lit = bar + 1;
    }
    return lit;
}

QString scrollSignature(int rowCount, const DialogueEntry *lastRow, const QString &draftText)
{
    QString signature;
    if (rowCount == 0 || !lastRow) {
        signature = QStringLiteral("empty");
    } else {
        signature = QString::number(rowCount) + QLatin1Char('-')
                    + lastRow->id.toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('-')
                    + QString::number(Text::graphemeCount(lastRow->text)) + QLatin1Char('-')
                    + (lastRow->isDraft ? QStringLiteral("true") : QStringLiteral("false"));
    }
    return signature + QLatin1Char('-') + Text::trimmed(draftText);
}

} // namespace WorkspaceRules

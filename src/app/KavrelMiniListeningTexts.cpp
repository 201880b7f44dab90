#include "app/KavrelMiniListeningTexts.h"

#include "base/Text.h"

namespace KavrelMiniListeningTexts {

QString statusTitleKey(bool isBusy, bool hasActiveSession, SubtitleStatus status)
{
    if (isBusy)
        return QStringLiteral("Preparing session");
    if (hasActiveSession)
        return QStringLiteral("Listening");
    if (status == SubtitleStatus::stopped)
        return QStringLiteral("Listening stopped");
    return QStringLiteral("Ready to listen");
}

QString viewerText(const QString &text, const QString &liveDraft, const QString &placeholder)
{
    const QString shown = Text::trimmed(text);
    if (!shown.isEmpty())
        return shown;
    if (!draftLine(liveDraft).isEmpty())
        return QString();
    return placeholder;
}

QString draftLine(const QString &liveDraft)
{
    return Text::trimmed(liveDraft);
}

} // namespace KavrelMiniListeningTexts

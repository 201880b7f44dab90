#pragma once

#include "session/SessionModel.h"

#include <QString>

// The texts the mini window derives from the session state.
namespace KavrelMiniListeningTexts {

// "Preparing session" while busy, else "Listening" while a session is active, else "Listening
// stopped" after a stop, else "Ready to listen" (interface keys).
QString statusTitleKey(bool isBusy, bool hasActiveSession, SubtitleStatus status);

// The main text of a panel: the text trimmed; when that is empty, nothing while a live draft
// is being spoken, else `placeholder`.
QString viewerText(const QString &text, const QString &liveDraft, const QString &placeholder);

// The draft line below it: the live draft trimmed (empty when there is none).
QString draftLine(const QString &liveDraft);

} // namespace KavrelMiniListeningTexts

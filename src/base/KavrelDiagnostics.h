#pragma once

#include <QLoggingCategory>

// The program's log categories, named "<bundle id>.<Category>". Use them with the
// qC* macros: qCInfo(KavrelDiagnostics::session) << "...";
namespace KavrelDiagnostics {

// The six shared categories.
const QLoggingCategory &app();
const QLoggingCategory &session();
const QLoggingCategory &audio();
const QLoggingCategory &transcription();
const QLoggingCategory &translation();
const QLoggingCategory &history();

// Categories of components that keep a log of their own.
const QLoggingCategory &meetingDetection();
const QLoggingCategory &deepgramLiveTranscription();
const QLoggingCategory &translationV2();
const QLoggingCategory &deepSeekTranslation();

} // namespace KavrelDiagnostics

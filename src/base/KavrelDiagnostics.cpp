#include "base/ApplicationInfoTable.h"
#include "base/KavrelDiagnostics.h"

// Category names must outlive the categories, so they are string literals.
#define KAVREL_CATEGORY(function, name) \
    const QLoggingCategory &function() \
    { \
        static const QLoggingCategory category(KAVREL_INFO_BUNDLE_IDENTIFIER "." name, QtInfoMsg); \
        return category; \
    }

namespace KavrelDiagnostics {

KAVREL_CATEGORY(app, "App")
KAVREL_CATEGORY(session, "Session")
KAVREL_CATEGORY(audio, "Audio")
KAVREL_CATEGORY(transcription, "Transcription")
KAVREL_CATEGORY(translation, "Translation")
KAVREL_CATEGORY(history, "History")
KAVREL_CATEGORY(meetingDetection, "MeetingDetection")
KAVREL_CATEGORY(deepgramLiveTranscription, "DeepgramLiveTranscription")
KAVREL_CATEGORY(translationV2, "TranslationV2")
KAVREL_CATEGORY(deepSeekTranslation, "DeepSeekTranslation")

} // namespace KavrelDiagnostics

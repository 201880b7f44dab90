#pragma once

#include "audio/MicrophoneInputDevice.h"
#include "session/SessionModel.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class PublishedTranscript;

// What the shell's windows and the tray item read of the session view model and the commands
// they send it. The program passes an adapter over the one SubtitleViewModel; tests a fake.
// Readers take the current value and follow changed(); they never write state.
class KavrelSessionSurface : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~KavrelSessionSurface() override = default;

    virtual bool hasActiveSession() const = 0;
    virtual SubtitleStatus status() const = 0;
    virtual bool isBusy() const = 0;
    virtual bool isMicrophoneBusy() const = 0;
    virtual bool isMicrophoneListening() const = 0;
    virtual bool isTranslationEnabled() const = 0;
    virtual bool startsWithMicrophoneEnabled() const = 0;
    // The start questions are open (a start is being decided there).
    virtual bool isAskingStartQuestions() const = 0;

    // The rows of both columns with their row-level change signals (the whole texts below are
    // those rows joined). It lives as long as the surface.
    virtual PublishedTranscript *publishedTranscript() const = 0;
    virtual QString subtitlesText() const = 0;
    virtual QString liveSubtitlePreview() const = 0;
    virtual QString translatedText() const = 0;
    virtual QString liveTranslationPreview() const = 0;
    virtual int transcriptEntryCount() const = 0;
    virtual int translationEntryCount() const = 0;
    virtual QString translationPlaceholderText() const = 0;
    virtual QString translationPanelTitle() const = 0;

    virtual QList<MicrophoneInputDevice> availableMicrophones() const = 0;
    virtual QString selectedMicrophoneID() const = 0;
    virtual QString selectedMicrophoneName() const = 0;

    virtual void promptAndStartListening(bool includeMicrophone) = 0;
    virtual void stopActiveSession() = 0;
    virtual void toggleMicrophoneCapture() = 0;
    virtual void selectMicrophone(const QString &id) = 0;
    virtual void refreshAvailableMicrophones() = 0;
    // The start roads write a failed session refresh here.
    virtual void setErrorMessage(const std::optional<QString> &message) = 0;

Q_SIGNALS:
    // Any of the values above changed.
    void changed();
    void hasActiveSessionChanged();
};

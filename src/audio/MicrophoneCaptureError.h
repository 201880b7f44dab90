#pragma once

#include "base/KavrelError.h"

#include <QString>

// Failures of microphone capture.
class MicrophoneCaptureError final : public KavrelError
{
public:
    enum class Case {
        startFailed,
        alreadyCapturing,
        permissionDenied,
        inputUnavailable,
        selectedDeviceUnavailable,
        audioServerUnavailable,
        captureLost,
    };

    explicit MicrophoneCaptureError(Case errorCase, QString underlyingDescription = QString());

    // startFailed carries the text of the error that stopped the start.
    static MicrophoneCaptureError startFailed(const QString &underlyingDescription) { return MicrophoneCaptureError(Case::startFailed, underlyingDescription); }
    static MicrophoneCaptureError alreadyCapturing() { return MicrophoneCaptureError(Case::alreadyCapturing); }
    static MicrophoneCaptureError permissionDenied() { return MicrophoneCaptureError(Case::permissionDenied); }
    static MicrophoneCaptureError inputUnavailable() { return MicrophoneCaptureError(Case::inputUnavailable); }
    static MicrophoneCaptureError selectedDeviceUnavailable() { return MicrophoneCaptureError(Case::selectedDeviceUnavailable); }
    // The audio server could not be reached; carries the server library's text for why.
    static MicrophoneCaptureError audioServerUnavailable(const QString &underlyingDescription) { return MicrophoneCaptureError(Case::audioServerUnavailable, underlyingDescription); }

    // The microphone went away while it was captured and could not be taken up again; carries
    // why, in words.
    static MicrophoneCaptureError captureLost(const QString &underlyingDescription) { return MicrophoneCaptureError(Case::captureLost, underlyingDescription); }

    Case errorCase() const { return m_case; }
    QString underlyingDescription() const { return m_underlyingDescription; }

    QString message() const override;

private:
    Case m_case;
    QString m_underlyingDescription;
};

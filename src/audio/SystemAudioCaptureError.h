#pragma once

#include "base/KavrelError.h"

#include <QString>

// Failures of system-audio capture, of the chunk encoder and of local recording. Cases
// with a status carry the audio server's error number; cases with an error carry the
// underlying error's text.
class SystemAudioCaptureError final : public KavrelError
{
public:
    enum class Case {
        failedToCreateProcessTap,
        failedToCreateAggregateDevice,
        failedToCreateIOProc,
        failedToStartDevice,
        failedToStopDevice,
        failedToDestroyIOProc,
        failedToDestroyAggregateDevice,
        failedToDestroyProcessTap,
        failedToReadTapFormat,
        failedToReadTapUID,
        failedToPrepareOutputDirectory,
        failedToWriteAudioFile,
        alreadyCapturing,
        notCapturing,
        unsupportedSystemAudioTap,
        failedToCreateAudioFile,
        failedToCreateAudioBuffer,
        unsupportedAudioFormat,
    };

    explicit SystemAudioCaptureError(Case errorCase);
    SystemAudioCaptureError(Case errorCase, qint32 status);
    SystemAudioCaptureError(Case errorCase, QString underlyingDescription);

    static SystemAudioCaptureError failedToCreateProcessTap(qint32 status) { return {Case::failedToCreateProcessTap, status}; }
    static SystemAudioCaptureError failedToCreateAggregateDevice(qint32 status) { return {Case::failedToCreateAggregateDevice, status}; }
    static SystemAudioCaptureError failedToCreateIOProc(qint32 status) { return {Case::failedToCreateIOProc, status}; }
    static SystemAudioCaptureError failedToStartDevice(qint32 status) { return {Case::failedToStartDevice, status}; }
    static SystemAudioCaptureError failedToStopDevice(qint32 status) { return {Case::failedToStopDevice, status}; }
    static SystemAudioCaptureError failedToDestroyIOProc(qint32 status) { return {Case::failedToDestroyIOProc, status}; }
    static SystemAudioCaptureError failedToDestroyAggregateDevice(qint32 status) { return {Case::failedToDestroyAggregateDevice, status}; }
    static SystemAudioCaptureError failedToDestroyProcessTap(qint32 status) { return {Case::failedToDestroyProcessTap, status}; }
    static SystemAudioCaptureError failedToReadTapFormat(qint32 status) { return {Case::failedToReadTapFormat, status}; }
    static SystemAudioCaptureError failedToReadTapUID(qint32 status) { return {Case::failedToReadTapUID, status}; }
    static SystemAudioCaptureError failedToPrepareOutputDirectory(const QString &description) { return {Case::failedToPrepareOutputDirectory, description}; }
    static SystemAudioCaptureError failedToWriteAudioFile(qint32 status) { return {Case::failedToWriteAudioFile, status}; }
    static SystemAudioCaptureError alreadyCapturing() { return SystemAudioCaptureError(Case::alreadyCapturing); }
    static SystemAudioCaptureError notCapturing() { return SystemAudioCaptureError(Case::notCapturing); }
    static SystemAudioCaptureError unsupportedSystemAudioTap() { return SystemAudioCaptureError(Case::unsupportedSystemAudioTap); }
    static SystemAudioCaptureError failedToCreateAudioFile() { return SystemAudioCaptureError(Case::failedToCreateAudioFile); }
    static SystemAudioCaptureError failedToCreateAudioBuffer() { return SystemAudioCaptureError(Case::failedToCreateAudioBuffer); }
    static SystemAudioCaptureError unsupportedAudioFormat() { return SystemAudioCaptureError(Case::unsupportedAudioFormat); }

    Case errorCase() const { return m_case; }
    // The audio server's error number, for the cases that carry one (for the file cases, the
    // file library's: a system error number, negated).
    qint32 status() const { return m_status; }
    QString underlyingDescription() const { return m_underlyingDescription; }

    // A recording that failed but kept what it had written: where that file is. The message
    // then says so.
    SystemAudioCaptureError withKeptFile(const QString &path) const;
    QString keptFile() const { return m_keptFile; }

    // Why, in words, where the status names a reason the system gives (a full disk); else the
    // message.
    QString reason() const;

    QString message() const override;

private:
    // The reason the system gives for a failed write, in words, or empty.
    QString statusInWords() const;

    Case m_case;
    qint32 m_status = 0;
    QString m_underlyingDescription;
    QString m_keptFile;
};

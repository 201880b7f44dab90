#pragma once

#include "session/KavrelSessionSurface.h"

#include <QPointer>

class SubtitleViewModel;

// The session surface of the shell's windows over the program's one SubtitleViewModel.
class SubtitleViewModelSurface final : public KavrelSessionSurface
{
    Q_OBJECT

public:
    explicit SubtitleViewModelSurface(SubtitleViewModel &viewModel, QObject *parent = nullptr);

    bool hasActiveSession() const override;
    SubtitleStatus status() const override;
    bool isBusy() const override;
    bool isMicrophoneBusy() const override;
    bool isMicrophoneListening() const override;
    bool isTranslationEnabled() const override;
    bool startsWithMicrophoneEnabled() const override;
    bool isAskingStartQuestions() const override;
    PublishedTranscript *publishedTranscript() const override;
    QString subtitlesText() const override;
    QString liveSubtitlePreview() const override;
    QString translatedText() const override;
    QString liveTranslationPreview() const override;
    int transcriptEntryCount() const override;
    int translationEntryCount() const override;
    QString translationPlaceholderText() const override;
    QString translationPanelTitle() const override;
    QList<MicrophoneInputDevice> availableMicrophones() const override;
    QString selectedMicrophoneID() const override;
    QString selectedMicrophoneName() const override;

    void promptAndStartListening(bool includeMicrophone) override;
    void stopActiveSession() override;
    void toggleMicrophoneCapture() override;
    void selectMicrophone(const QString &id) override;
    void refreshAvailableMicrophones() override;
    void setErrorMessage(const std::optional<QString> &message) override;

private:
    QPointer<SubtitleViewModel> m_viewModel;
};

#pragma once

#include "detection/MeetingDetectionSessionControl.h"

#include <QPointer>

#include <memory>

class SubtitleViewModel;

// Meeting detection's hold on the session view model: weak, so the store reads the view
// model as gone once it has been destroyed.
//   store.setViewModel(SubtitleViewModelSessionControl::of(&viewModel));
class SubtitleViewModelSessionControl final : public MeetingDetectionSessionControl
{
public:
    explicit SubtitleViewModelSessionControl(SubtitleViewModel *viewModel);
    static std::shared_ptr<MeetingDetectionSessionControl> of(SubtitleViewModel *viewModel);

    bool isAlive() const override;
    bool hasActiveSession() const override;
    bool isSystemAudioListening() const override;
    bool isMicrophoneListening() const override;
    bool isBusy() const override;
    bool isMicrophoneBusy() const override;
    bool startsWithMicrophoneEnabled() const override;
    void promptAndStartListening(bool includeMicrophone) override;
    void stopActiveSession() override;

private:
    QPointer<SubtitleViewModel> m_viewModel;
};

#include "detection/SubtitleViewModelSessionControl.h"

#include "base/Async.h"
#include "session/SubtitleViewModel.h"

SubtitleViewModelSessionControl::SubtitleViewModelSessionControl(SubtitleViewModel *viewModel)
    : m_viewModel(viewModel)
{
}

std::shared_ptr<MeetingDetectionSessionControl> SubtitleViewModelSessionControl::of(SubtitleViewModel *viewModel)
{
    return std::make_shared<SubtitleViewModelSessionControl>(viewModel);
}

bool SubtitleViewModelSessionControl::isAlive() const
{
    return !m_viewModel.isNull();
}

bool SubtitleViewModelSessionControl::hasActiveSession() const
{
    return m_viewModel && m_viewModel->hasActiveSession();
}

bool SubtitleViewModelSessionControl::isSystemAudioListening() const
{
    return m_viewModel && m_viewModel->isSystemAudioListening();
}

bool SubtitleViewModelSessionControl::isMicrophoneListening() const
{
    return m_viewModel && m_viewModel->isMicrophoneListening();
}

bool SubtitleViewModelSessionControl::isBusy() const
{
    return m_viewModel && m_viewModel->isBusy();
}

bool SubtitleViewModelSessionControl::isMicrophoneBusy() const
{
    return m_viewModel && m_viewModel->isMicrophoneBusy();
}

bool SubtitleViewModelSessionControl::startsWithMicrophoneEnabled() const
{
    return m_viewModel && m_viewModel->startsWithMicrophoneEnabled();
}

void SubtitleViewModelSessionControl::promptAndStartListening(bool includeMicrophone)
{
    if (!m_viewModel)
        return;
    // The start asks its questions and runs on its own; its errors are published by the view model.
    spawnTask([viewModel = m_viewModel, includeMicrophone](CancellationToken) -> QCoro::Task<void> {
        if (viewModel)
            co_await viewModel->promptAndStartListening(includeMicrophone);
    });
}

void SubtitleViewModelSessionControl::stopActiveSession()
{
    if (m_viewModel)
        m_viewModel->stopActiveSession();
}

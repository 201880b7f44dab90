#include "workspace/SubtitleViewModelSessionSurface.h"

#include "app/KavrelDiagnostics.h"
#include "base/Async.h"
#include "session/ListeningSession.h"
#include "session/PublishedTranscript.h"
#include "session/SubtitleViewModel.h"

SubtitleViewModelSessionSurface::SubtitleViewModelSessionSurface(SubtitleViewModel *viewModel, QObject *parent)
    : KavrelSessionSurface(parent), m_viewModel(viewModel)
{
    const auto announce = [this] { Q_EMIT changed(); };
    for (auto signal : {&SubtitleViewModel::statusChanged, &SubtitleViewModel::isBusyChanged,
                        &SubtitleViewModel::isMicrophoneBusyChanged, &SubtitleViewModel::isMicrophoneListeningChanged,
                        &SubtitleViewModel::isTranslationEnabledChanged,
                        &SubtitleViewModel::startsWithMicrophoneEnabledChanged, &SubtitleViewModel::subtitlesTextChanged,
                        &SubtitleViewModel::liveSubtitlePreviewChanged, &SubtitleViewModel::translatedTextChanged,
                        &SubtitleViewModel::liveTranslationPreviewChanged, &SubtitleViewModel::transcriptEntriesChanged,
                        &SubtitleViewModel::translationEntriesChanged,
                        &SubtitleViewModel::translationPlaceholderTextChanged, &SubtitleViewModel::panelTitlesChanged,
                        &SubtitleViewModel::availableMicrophonesChanged, &SubtitleViewModel::selectedMicrophoneIDChanged,
                        &SubtitleViewModel::selectedMicrophoneNameChanged, &SubtitleViewModel::errorMessageChanged}) {
        connect(viewModel, signal, this, announce);
    }
    connect(viewModel, &SubtitleViewModel::hasActiveSessionChanged, this, [this] {
        Q_EMIT changed();
        Q_EMIT hasActiveSessionChanged();
    });
}

bool SubtitleViewModelSessionSurface::hasActiveSession() const { return m_viewModel && m_viewModel->hasActiveSession(); }
SubtitleStatus SubtitleViewModelSessionSurface::status() const { return m_viewModel ? m_viewModel->status() : SubtitleStatus::idle; }
bool SubtitleViewModelSessionSurface::isBusy() const { return m_viewModel && m_viewModel->isBusy(); }
bool SubtitleViewModelSessionSurface::isMicrophoneBusy() const { return m_viewModel && m_viewModel->isMicrophoneBusy(); }
bool SubtitleViewModelSessionSurface::isMicrophoneListening() const { return m_viewModel && m_viewModel->isMicrophoneListening(); }
bool SubtitleViewModelSessionSurface::isTranslationEnabled() const { return m_viewModel && m_viewModel->isTranslationEnabled(); }
bool SubtitleViewModelSessionSurface::startsWithMicrophoneEnabled() const
{
    return m_viewModel && m_viewModel->startsWithMicrophoneEnabled();
}

QString SubtitleViewModelSessionSurface::subtitlesText() const { return m_viewModel ? m_viewModel->subtitlesText() : QString(); }
QString SubtitleViewModelSessionSurface::liveSubtitlePreview() const
{
    return m_viewModel ? m_viewModel->liveSubtitlePreview() : QString();
}
QString SubtitleViewModelSessionSurface::translatedText() const { return m_viewModel ? m_viewModel->translatedText() : QString(); }
QString SubtitleViewModelSessionSurface::liveTranslationPreview() const
{
    return m_viewModel ? m_viewModel->liveTranslationPreview() : QString();
}
int SubtitleViewModelSessionSurface::transcriptEntryCount() const
{
    return m_viewModel ? m_viewModel->publishedTranscript()->rowCount(PublishedTranscript::Column::transcript) : 0;
}
int SubtitleViewModelSessionSurface::translationEntryCount() const
{
    return m_viewModel ? m_viewModel->publishedTranscript()->rowCount(PublishedTranscript::Column::translation) : 0;
}
QString SubtitleViewModelSessionSurface::translationPlaceholderText() const
{
    return m_viewModel ? m_viewModel->translationPlaceholderText() : QString();
}
QString SubtitleViewModelSessionSurface::translationPanelTitle() const
{
    return m_viewModel ? m_viewModel->translationPanelTitle() : QString();
}

QList<MicrophoneInputDevice> SubtitleViewModelSessionSurface::availableMicrophones() const
{
    return m_viewModel ? m_viewModel->availableMicrophones() : QList<MicrophoneInputDevice>();
}
QString SubtitleViewModelSessionSurface::selectedMicrophoneID() const
{
    return m_viewModel ? m_viewModel->selectedMicrophoneID() : QString();
}
QString SubtitleViewModelSessionSurface::selectedMicrophoneName() const
{
    return m_viewModel ? m_viewModel->selectedMicrophoneName() : QString();
}

void SubtitleViewModelSessionSurface::promptAndStartListening(bool includeMicrophone)
{
    if (!m_viewModel)
        return;
    QPointer<SubtitleViewModel> viewModel = m_viewModel;
    spawnTask([viewModel, includeMicrophone](CancellationToken) -> QCoro::Task<void> {
        try {
            if (viewModel)
                co_await viewModel->promptAndStartListening(includeMicrophone);
        } catch (...) {
            qCWarning(KavrelDiagnostics::app()).noquote() << "starting to listen failed:" << errorMessage(std::current_exception());
        }
    });
}

void SubtitleViewModelSessionSurface::stopActiveSession()
{
    if (m_viewModel)
        m_viewModel->stopActiveSession();
}

void SubtitleViewModelSessionSurface::toggleMicrophoneCapture()
{
    if (m_viewModel)
        m_viewModel->toggleMicrophoneCapture();
}

void SubtitleViewModelSessionSurface::selectMicrophone(const QString &id)
{
    if (m_viewModel)
        m_viewModel->selectMicrophone(id);
}

void SubtitleViewModelSessionSurface::refreshAvailableMicrophones()
{
    if (m_viewModel)
        m_viewModel->refreshAvailableMicrophones();
}

void SubtitleViewModelSessionSurface::setErrorMessage(const std::optional<QString> &message)
{
    if (m_viewModel)
        m_viewModel->listeningSession()->setErrorMessage(message);
}

#include "app/SubtitleViewModelSurface.h"

#include "base/Async.h"
#include "base/KavrelDiagnostics.h"
#include "session/ListeningSession.h"
#include "session/PublishedTranscript.h"
#include "session/SubtitleViewModel.h"

#include <QMetaMethod>
#include <QSet>

SubtitleViewModelSurface::SubtitleViewModelSurface(SubtitleViewModel &viewModel, QObject *parent)
    : KavrelSessionSurface(parent), m_viewModel(&viewModel)
{
    // Every published property's change is a change of the surface.
    // A change of any value the surface offers is a change of the surface; the others (the
    // microphone level above all, many times a second) would only wake every reader for nothing.
    static const QSet<QByteArray> offered{
        "hasActiveSession", "status", "isBusy", "isMicrophoneBusy", "isMicrophoneListening", "isTranslationEnabled",
        "startsWithMicrophoneEnabled", "isAskingStartQuestions", "subtitlesText", "liveSubtitlePreview", "translatedText",
        "liveTranslationPreview", "transcriptEntries", "translationEntries", "translationPlaceholderText", "translationPanelTitle",
        "availableMicrophones", "selectedMicrophoneID", "selectedMicrophoneName"};
    const QMetaObject *meta = viewModel.metaObject();
    const QMetaMethod announce = metaObject()->method(metaObject()->indexOfSignal("changed()"));
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal() && offered.contains(QByteArray(property.name())))
            connect(&viewModel, property.notifySignal(), this, announce, Qt::UniqueConnection);
    }
    connect(&viewModel, &SubtitleViewModel::hasActiveSessionChanged, this, &KavrelSessionSurface::hasActiveSessionChanged);
}

using Devices = QList<MicrophoneInputDevice>;

#define KAVREL_FORWARD(type, name, fallback) \
    type SubtitleViewModelSurface::name() const \
    { \
        return m_viewModel ? type(m_viewModel->name()) : fallback; \
    }

KAVREL_FORWARD(bool, hasActiveSession, false)
KAVREL_FORWARD(SubtitleStatus, status, SubtitleStatus::idle)
KAVREL_FORWARD(bool, isBusy, false)
KAVREL_FORWARD(bool, isMicrophoneBusy, false)
KAVREL_FORWARD(bool, isMicrophoneListening, false)
KAVREL_FORWARD(bool, isTranslationEnabled, false)
KAVREL_FORWARD(bool, startsWithMicrophoneEnabled, false)
KAVREL_FORWARD(bool, isAskingStartQuestions, false)
KAVREL_FORWARD(QString, subtitlesText, QString())
KAVREL_FORWARD(QString, liveSubtitlePreview, QString())
KAVREL_FORWARD(QString, translatedText, QString())
KAVREL_FORWARD(QString, liveTranslationPreview, QString())
KAVREL_FORWARD(QString, translationPlaceholderText, QString())
KAVREL_FORWARD(QString, translationPanelTitle, QString())
KAVREL_FORWARD(Devices, availableMicrophones, Devices())
KAVREL_FORWARD(QString, selectedMicrophoneID, QString())
KAVREL_FORWARD(QString, selectedMicrophoneName, QString())

#undef KAVREL_FORWARD

PublishedTranscript *SubtitleViewModelSurface::publishedTranscript() const
{
    return m_viewModel ? m_viewModel->publishedTranscript() : nullptr;
}

int SubtitleViewModelSurface::transcriptEntryCount() const
{
    return m_viewModel ? m_viewModel->publishedTranscript()->rowCount(PublishedTranscript::Column::transcript) : 0;
}

int SubtitleViewModelSurface::translationEntryCount() const
{
    return m_viewModel ? m_viewModel->publishedTranscript()->rowCount(PublishedTranscript::Column::translation) : 0;
}

void SubtitleViewModelSurface::promptAndStartListening(bool includeMicrophone)
{
    // The view model asks its questions and starts in a task of its own; the caller goes on.
    QPointer<SubtitleViewModel> viewModel = m_viewModel;
    spawnTask([viewModel, includeMicrophone](CancellationToken) -> QCoro::Task<void> {
        if (!viewModel)
            co_return;
        try {
            co_await viewModel->promptAndStartListening(includeMicrophone);
        } catch (...) {
            qCWarning(KavrelDiagnostics::session()).noquote() << "starting to listen failed:" << errorMessage(std::current_exception());
        }
    });
}

void SubtitleViewModelSurface::stopActiveSession()
{
    if (m_viewModel)
        m_viewModel->stopActiveSession();
}

void SubtitleViewModelSurface::toggleMicrophoneCapture()
{
    if (m_viewModel)
        m_viewModel->toggleMicrophoneCapture();
}

void SubtitleViewModelSurface::selectMicrophone(const QString &id)
{
    if (m_viewModel)
        m_viewModel->selectMicrophone(id);
}

void SubtitleViewModelSurface::refreshAvailableMicrophones()
{
    if (m_viewModel)
        m_viewModel->refreshAvailableMicrophones();
}

void SubtitleViewModelSurface::setErrorMessage(const std::optional<QString> &message)
{
    if (m_viewModel && m_viewModel->listeningSession())
        m_viewModel->listeningSession()->setErrorMessage(message);
}

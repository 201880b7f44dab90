#include "signin/PulseAudioMicrophoneAuthorization.h"

#include "audio/MicrophoneCaptureService.h"
#include "platform/PulseAudioContext.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

PulseAudioMicrophoneAuthorization::PulseAudioMicrophoneAuthorization(std::shared_ptr<PulseAudioContext> context)
    : m_context(std::move(context))
{
}

PulseAudioMicrophoneAuthorization::~PulseAudioMicrophoneAuthorization() = default;

std::optional<MicrophoneAuthorization::Status> PulseAudioMicrophoneAuthorization::cachedStatus() const
{
    // Only a ready connection answers from its cache without waiting.
    if (!m_context || m_context->state() != PulseAudioContext::State::Ready)
        return std::nullopt;
    return MicrophoneCaptureService::availableDevices(*m_context).empty() ? Status::denied : Status::authorized;
}

QCoro::Task<MicrophoneAuthorization::Status> PulseAudioMicrophoneAuthorization::status()
{
    std::shared_ptr<PulseAudioContext> context = m_context;
    if (!context)
        co_return Status::denied;
    const bool isReady = co_await context->ready();
    if (!isReady)
        co_return Status::denied;
    co_return MicrophoneCaptureService::availableDevices(*context).empty() ? Status::denied : Status::authorized;
}

QCoro::Task<void> PulseAudioMicrophoneAuthorization::requestAccess()
{
    // Outside a sandbox nobody asks the user: the next status read is the answer.
    co_return;
}

std::vector<PulseAudioMicrophoneAuthorization::Command>
PulseAudioMicrophoneAuthorization::soundSettingsCommands(const QString &currentDesktop)
{
    const Command gnome{QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}};
    const Command kde{QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}};
    const Command mixer{QStringLiteral("pavucontrol"), {}};
    if (currentDesktop.split(QLatin1Char(':')).contains(QStringLiteral("KDE"), Qt::CaseInsensitive))
        return {kde, gnome, mixer};
    return {gnome, kde, mixer};
}

void PulseAudioMicrophoneAuthorization::openSettings()
{
    const QString desktop = QProcessEnvironment::systemEnvironment().value(QStringLiteral("XDG_CURRENT_DESKTOP"));
    for (const Command &command : soundSettingsCommands(desktop)) {
        const QString path = QStandardPaths::findExecutable(command.program);
        if (path.isEmpty())
            continue;
        // Detached: the settings outlive this call and their outcome is not ours to report.
        if (QProcess::startDetached(path, command.arguments))
            return;
    }
}

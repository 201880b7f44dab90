#pragma once

#include "signin/MicrophoneAuthorization.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class PulseAudioContext;

// Microphone access on a Linux desktop: there is no per-application switch outside a
// sandbox, so access counts as granted when the audio server can be reached and offers an
// input (a source that is not the monitor of an output), and as denied otherwise. The
// remedy for "denied" is the desktop's sound settings: GNOME's, else KDE's, else pavucontrol.
//
// Main thread only. Reading the status awaits the server connection; it never blocks.
class PulseAudioMicrophoneAuthorization final : public MicrophoneAuthorization
{
public:
    struct Command
    {
        QString program;
        QStringList arguments;
        bool operator==(const Command &) const = default;
    };

    explicit PulseAudioMicrophoneAuthorization(std::shared_ptr<PulseAudioContext> context);
    ~PulseAudioMicrophoneAuthorization() override;

    std::optional<Status> cachedStatus() const override;
    QCoro::Task<Status> status() override;
    QCoro::Task<void> requestAccess() override;
    void openSettings() override;

    // The sound-settings programs to try, in order, for the desktop named by
    // XDG_CURRENT_DESKTOP (KDE's own comes first on KDE).
    static std::vector<Command> soundSettingsCommands(const QString &currentDesktop);

private:
    std::shared_ptr<PulseAudioContext> m_context;
};

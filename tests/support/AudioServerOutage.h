#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

// Cuts every client off the private audio server, as a restart of the server does, until
// restore() or the end of the object. The server keeps running with its devices; only its
// socket goes away and comes back, so nothing else of the test run is disturbed for longer
// than the outage. (Tests that use it hold the audio server's resource lock, like every
// audio test.)
class AudioServerOutage final
{
public:
    AudioServerOutage();
    ~AudioServerOutage();

    AudioServerOutage(const AudioServerOutage &) = delete;
    AudioServerOutage &operator=(const AudioServerOutage &) = delete;

    // True while clients are cut off.
    bool isActive() const { return m_active; }
    // Lets clients connect again; true when the server answers on its usual socket.
    bool restore();
    // Runs pactl on the server while clients are cut off (devices that come back later than the
    // server are unloaded here); its output, or nothing when it failed.
    std::optional<QString> pactl(const QStringList &arguments) const;

private:
    QTemporaryDir m_folder;
    // A second socket of the same server, through which it is told to open the first again.
    QString m_sideServer;
    QString m_sideModule;
    bool m_active = false;
};

#pragma once

#include <QMetaType>
#include <QString>

// An input device offered for capture. id is the audio server's name of the source (stable
// across restarts), name its human-readable description.
struct MicrophoneInputDevice
{
    QString id;
    QString name;

    bool operator==(const MicrophoneInputDevice &) const = default;
};

Q_DECLARE_METATYPE(MicrophoneInputDevice)

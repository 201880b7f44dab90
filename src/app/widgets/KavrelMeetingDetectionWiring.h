#pragma once

#include "detection/MeetingDetectionStore.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class KavrelListeningStarter;
class KavrelPresentationStore;

// How the shell connects meeting detection to the session and the presentation mode. Both the
// main window's background coordinator and the tray item wire it when they appear; whichever
// did so last owns the start handler.
struct KavrelMeetingDetectionWiring
{
    QPointer<MeetingDetectionStore> store;
    std::shared_ptr<MeetingDetectionSessionControl> viewModel;

    bool isSet() const { return store != nullptr; }

    // Sets the store's view model, its start handler (`start`) and its prompt suppression
    // (while background-only mode is on), then makes sure it monitors.
    void wire(std::function<void()> start, QPointer<KavrelPresentationStore> presentation) const;

    // The start of a meeting prompt: refresh the session and start listening, then bring the main
    // window back unless background-only mode is on. It ends against the long-lived stores only.
    static std::function<void()> promptStart(KavrelListeningStarter &starter, QPointer<KavrelPresentationStore> presentation,
                                             std::function<void(const QString &)> openWindow);
};

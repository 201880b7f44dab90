#include "app/widgets/KavrelMeetingDetectionWiring.h"

#include "session/KavrelListeningStarter.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "detection/MeetingDetectionStore.h"

void KavrelMeetingDetectionWiring::wire(std::function<void()> start, QPointer<KavrelPresentationStore> presentation) const
{
    if (!store)
        return;
    store->setViewModel(viewModel);
    store->setStartListeningHandler(std::move(start));
    store->setShouldSuppressPrompts([presentation] { return presentation && presentation->isBackgroundOnly(); });
    store->startMonitoringIfNeeded();
}

std::function<void()> KavrelMeetingDetectionWiring::promptStart(KavrelListeningStarter &starter,
                                                                QPointer<KavrelPresentationStore> presentation,
                                                                std::function<void(const QString &)> openWindow)
{
    QPointer<KavrelListeningStarter> weakStarter(&starter);
    return [weakStarter, presentation, openWindow] {
        if (!weakStarter)
            return;
        weakStarter->startListeningAfterAuthRefresh([presentation, openWindow] {
            if (presentation && !presentation->isBackgroundOnly())
                presentation->restoreApplicationOpening(openWindow, QStringLiteral("kavrel-main"));
        });
    };
}

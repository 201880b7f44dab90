#include "workspace/WorkspaceStartRoad.h"

#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "session/KavrelSessionSurface.h"

WorkspaceStartRoad::WorkspaceStartRoad(AuthSessionStore *authStore, KavrelSessionSurface *session,
                                       KavrelListeningStarter *starter, QObject *parent)
    : QObject(parent), m_authStore(authStore), m_session(session), m_starter(starter)
{
    if (session)
        connect(session, &KavrelSessionSurface::changed, this, &WorkspaceStartRoad::giveWayToStartQuestions);
}

void WorkspaceStartRoad::prepareListeningSetupAfterAuthRefresh()
{
    QPointer<WorkspaceStartRoad> self(this);
    KavrelListeningStarter::runAfterAuthRefresh(
        m_authStore, m_session,
        [self] {
            // The window may have closed while the refresh ran, and another road may have
            // opened the start questions meanwhile.
            if (self && !self->isAskingStartQuestions())
                self->setListeningSetupPresented(true);
        },
        {}, "opening the listening setup failed:");
}

void WorkspaceStartRoad::startFromSetup()
{
    m_shouldStartListeningAfterSetup = true;
    setListeningSetupPresented(false);
}

void WorkspaceStartRoad::setListeningSetupPresented(bool presented)
{
    if (m_isListeningSetupPresented == presented)
        return;
    m_isListeningSetupPresented = presented;
    Q_EMIT listeningSetupPresentedChanged(presented);
    if (!presented && m_shouldStartListeningAfterSetup) {
        m_shouldStartListeningAfterSetup = false;
        startListeningAfterAuthRefresh();
    }
}

void WorkspaceStartRoad::startListeningAfterAuthRefresh()
{
    if (m_starter)
        m_starter->startListeningAfterAuthRefresh({});
}

bool WorkspaceStartRoad::isAskingStartQuestions() const
{
    return m_session && m_session->isAskingStartQuestions();
}

void WorkspaceStartRoad::giveWayToStartQuestions()
{
    // The session announces the questions before the first one opens: the sheet is gone before
    // the question takes the screen, and the user finishes the start in one place.
    if (m_isListeningSetupPresented && isAskingStartQuestions())
        setListeningSetupPresented(false);
}

#include "app/widgets/KavrelTrayItem.h"

#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "localization/KavrelLocalizationStore.h"
#include "app/KavrelNotifications.h"
#include "session/KavrelSessionSurface.h"
#include "services/KavrelUpdateController.h"
#include "app/widgets/KavrelMenuBarIcon.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "kit/widgets/KavrelSymbols.h"
#include "kit/widgets/KavrelWindowFront.h"
#include "base/KavrelDiagnostics.h"
#include "platform/ApplicationInfo.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>
#include <utility>

namespace {

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

} // namespace

KavrelTrayItem::KavrelTrayItem(KavrelSessionSurface &session, AuthSessionStore &authStore,
                               KavrelPresentationStore &presentation, KavrelListeningStarter &starter,
                               UserDefaults &defaults, KavrelUpdateController &updates, OpenWindow openWindow,
                               QObject *parent)
    : QObject(parent), m_session(session), m_authStore(&authStore), m_presentation(&presentation), m_starter(starter),
      m_defaults(defaults), m_updates(updates), m_openWindow(std::move(openWindow)),
      m_quit([] { QCoreApplication::quit(); }), m_menu(std::make_unique<QMenu>())
{
    m_trayIcon.setContextMenu(m_menu.get());
    connect(m_menu.get(), &QMenu::aboutToShow, this, &KavrelTrayItem::rebuildMenu);
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A plain click opens the menu too, as a menu-bar item does.
        if (reason == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
    connect(&m_session, &KavrelSessionSurface::changed, this, &KavrelTrayItem::refreshIcon);
    connect(&presentation, &KavrelPresentationStore::isBackgroundOnlyChanged, this, &KavrelTrayItem::refreshIcon);
    // The program is on its way out: nothing is left to choose from the tray.
    connect(&presentation, &KavrelPresentationStore::quittingStarted, this, [this] {
        m_menu->hide();
        m_trayIcon.hide();
    });
    connect(&KavrelNotifications::defaultCenter(), &KavrelNotifications::posted, this, [this](const QString &name) {
        if (name == KavrelNotifications::openMainWindow)
            restoreThenOpen(QStringLiteral("kavrel-main"));
    });
    connect(&m_updates.updaterController(), &KavrelUpdater::userCheckStarted, this, &KavrelTrayItem::showUpdateCheckUnderWay);
    connect(&m_updates.updaterController(), &KavrelUpdater::userCheckFinished, this, &KavrelTrayItem::showUpdateCheck);
    refreshIcon();
    rebuildMenu();
}

KavrelTrayItem::~KavrelTrayItem()
{
    delete m_updateBox.data();
}

bool KavrelTrayItem::isAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool KavrelTrayItem::show()
{
    m_meetingDetection.wire(KavrelMeetingDetectionWiring::promptStart(m_starter, m_presentation, m_openWindow), m_presentation);
    if (!isAvailable()) {
        qCWarning(KavrelDiagnostics::app()) << "the desktop shows no system tray; the program keeps its windows instead";
        return false;
    }
    m_trayIcon.show();
    return true;
}

KavrelMenuBarState KavrelTrayItem::state() const
{
    KavrelMenuBarState state;
    state.isRestoringSession = m_authStore && m_authStore->isRestoringSession();
    state.isAuthenticated = m_authStore && m_authStore->isAuthenticated();
    state.permissionsOnboardingVersion = m_defaults.integerValue(QString::fromLatin1(KavrelMenuBarState::onboardingVersionKey), 0);
    state.hasActiveSession = m_session.hasActiveSession();
    state.status = m_session.status();
    state.isBusy = m_session.isBusy();
    state.isMicrophoneBusy = m_session.isMicrophoneBusy();
    return state;
}

QString KavrelTrayItem::toolTip() const
{
    return m_session.hasActiveSession() ? localized(QStringLiteral("Listening")) : ApplicationInfo::displayName();
}

void KavrelTrayItem::refreshIcon()
{
    const bool active = m_session.hasActiveSession();
    const bool showsStatus = !(m_presentation && m_presentation->isBackgroundOnly());
    if (!m_iconSet || active != m_iconActive || showsStatus != m_iconShowsStatus) {
        m_iconActive = active;
        m_iconShowsStatus = showsStatus;
        m_iconSet = true;
        m_trayIcon.setIcon(KavrelMenuBarIcon::icon(active, showsStatus));
    }
    const QString tip = toolTip();
    if (m_trayIcon.toolTip() != tip)
        m_trayIcon.setToolTip(tip);
}

void KavrelTrayItem::rebuildMenu()
{
    QMenu &menu = *m_menu;
    menu.clear();
    const KavrelMenuBarState current = state();
    const QColor iconColor = menu.palette().color(QPalette::WindowText);

    QAction *toggle = menu.addAction(localized(current.toggleTitleKey()), this, &KavrelTrayItem::toggleListening);
    toggle->setEnabled(current.isToggleEnabled());
    menu.addAction(localized(QStringLiteral("Show КАВРЕЛ")), this, &KavrelTrayItem::openKavrelWindow);
    menu.addSeparator();
    menu.addAction(localized(current.statusTitleKey()))->setEnabled(false);

    QMenu *microphones = menu.addMenu(localized(QStringLiteral("Select microphone")));
    microphones->setEnabled(current.isMicrophoneMenuEnabled());
    microphones->addAction(localized(QStringLiteral("Refresh microphones")), this, [this] { m_session.refreshAvailableMicrophones(); });
    microphones->addSeparator();
    const QList<MicrophoneInputDevice> devices = m_session.availableMicrophones();
    if (devices.isEmpty()) {
        microphones->addAction(localized(QStringLiteral("No microphone devices available")))->setEnabled(false);
    }
    const QString selected = m_session.selectedMicrophoneID();
    for (const MicrophoneInputDevice &device : devices) {
        const bool isSelected = device.id == selected;
        const QString id = device.id;
        QAction *item = microphones->addAction(KavrelSymbols::icon(isSelected ? QStringLiteral("checkmark") : QStringLiteral("mic"), iconColor),
                                               device.name, this, [this, id] { m_session.selectMicrophone(id); });
        item->setData(id);
        item->setEnabled(!isSelected);
    }

    menu.addAction(localized(QStringLiteral("Settings...")), this, &KavrelTrayItem::openSettingsWindow);
    menu.addAction(localized(QStringLiteral("Check for Updates...")), this, [this] { m_updates.updaterController().checkForUpdates(); });
    menu.addSeparator();
    menu.addAction(localized(QStringLiteral("Quit КАВРЕЛ completely")), this, [this] {
        if (m_quit)
            m_quit();
    });
}

void KavrelTrayItem::toggleListening()
{
    if (m_session.hasActiveSession()) {
        m_session.stopActiveSession();
        return;
    }
    // The start outlives the menu; its ending reaches only the long-lived presentation store.
    QPointer<KavrelPresentationStore> presentation = m_presentation;
    OpenWindow openWindow = m_openWindow;
    m_starter.startListeningAfterAuthRefresh([presentation, openWindow] {
        if (presentation)
            presentation->restoreApplicationOpening(openWindow, QStringLiteral("kavrel-main"));
    });
}

void KavrelTrayItem::openKavrelWindow()
{
    restoreThenOpen(QStringLiteral("kavrel-main"));
}

void KavrelTrayItem::openSettingsWindow()
{
    restoreThenOpen(QStringLiteral("kavrel-settings"));
}

void KavrelTrayItem::restoreThenOpen(const QString &identifier)
{
    if (m_presentation)
        m_presentation->restoreApplicationOpening(m_openWindow, identifier);
}

void KavrelTrayItem::showUpdateCheckUnderWay()
{
    m_updateAnswerAwaited = true;
    presentUpdateBox(false, localized(QStringLiteral("Check for Updates")), localized(QStringLiteral("Checking for updates...")), true);
}

void KavrelTrayItem::showUpdateCheck(const KavrelUserUpdateCheck &result)
{
    // A box put away while the check ran: the user no longer waits for its answer.
    if (std::exchange(m_updateAnswerAwaited, false) && !m_updateBox)
        return;
    const QString title = localized(result.titleKey());
    const QString message = KavrelLocalizationStore::shared().localizedFormat(result.messageKey(), QStringList{KavrelLocalizationStore::shared().localizedMessage(result.messageArgument())});
    presentUpdateBox(result.outcome == KavrelUserUpdateCheck::Outcome::failed, title, message, false);
}

void KavrelTrayItem::presentUpdateBox(bool warning, const QString &title, const QString &message, bool underWay)
{
    Q_EMIT updateCheckShown(title, message);
    // An answer that comes to a box already open does not take the keyboard from where the
    // user went meanwhile; the user's own request does.
    const KavrelWindowFront::Focus focus = underWay || !m_updateBox ? KavrelWindowFront::Focus::take
                                                                     : KavrelWindowFront::Focus::leave;
    if (!m_updateBox) {
        m_updateBox = new QMessageBox;
        m_updateBox->setAttribute(Qt::WA_DeleteOnClose);
        m_updateBox->setTextFormat(Qt::PlainText);
        // The box sizes itself by its text, short while the check runs: its row of buttons,
        // which spans it, holds it as wide as the longest title it may take needs.
        int titleWidth = 0;
        for (const char *key : {"Check for Updates", "Update available", "Update check failed"})
            titleWidth = std::max(titleWidth, KavrelScreenFit::titleBarWidth(localized(QString::fromLatin1(key))));
        if (auto *buttons = m_updateBox->findChild<QDialogButtonBox *>())
            buttons->setMinimumWidth(titleWidth);
    }
    m_updateBox->setIcon(warning ? QMessageBox::Warning : QMessageBox::Information);
    m_updateBox->setWindowTitle(title);
    m_updateBox->setText(message);
    // While the check runs the box can only be put away; the answer is taken note of.
    m_updateBox->setStandardButtons(underWay ? QMessageBox::Cancel : QMessageBox::Ok);
    KavrelWindowFront::bringForward(m_updateBox, focus);
}

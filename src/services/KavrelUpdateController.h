#pragma once

#include "services/KavrelUpdater.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// The program's link to its updater. At start it asks for update information without the
// user's involvement and publishes the display version of an available update, so screens can
// offer it. The user's "Check for Updates..." goes to updaterController().checkForUpdates().
class KavrelUpdateController final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString availableUpdateDisplayVersion READ availableUpdateDisplayVersionText NOTIFY availableUpdateDisplayVersionChanged)

public:
    using UpdaterFactory = std::function<KavrelUpdater *(QObject *parent)>;

    // The process-wide controller over the information table's feed, created on first use.
    static KavrelUpdateController &shared();

    // `factory` creates the updater on first use; tests pass one over a local feed.
    explicit KavrelUpdateController(UpdaterFactory factory, QObject *parent = nullptr);

    // Starts the updater and checks now, and once per process again a moment later.
    void activate();
    // The updater, created on first use.
    KavrelUpdater &updaterController();

    std::optional<QString> availableUpdateDisplayVersion() const { return m_availableUpdateDisplayVersion; }
    QString availableUpdateDisplayVersionText() const { return m_availableUpdateDisplayVersion.value_or(QString()); }

    void setStartupRefreshDelay(std::chrono::milliseconds delay) { m_startupRefreshDelay = delay; }

Q_SIGNALS:
    void availableUpdateDisplayVersionChanged();

private:
    void setAvailableUpdateDisplayVersion(std::optional<QString> version);

    UpdaterFactory m_factory;
    QPointer<KavrelUpdater> m_updater;
    std::optional<QString> m_availableUpdateDisplayVersion;
    bool m_didScheduleStartupRefresh = false;
    std::chrono::milliseconds m_startupRefreshDelay{1500};
    // The later check is due while a check still runs (a slow feed).
    bool m_startupRefreshWaiting = false;
};

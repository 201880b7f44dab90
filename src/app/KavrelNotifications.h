#pragma once

#include <QObject>
#include <QString>

// The application-wide notification centre: posts named notifications without an object
// to everyone who listens. There is one per process, like the platform's default centre.
class KavrelNotifications final : public QObject
{
    Q_OBJECT

public:
    static inline const QString openMainWindow = QStringLiteral("kavrel.openMainWindow");
    static inline const QString interfaceLanguageWillChange = QStringLiteral("kavrel.interfaceLanguageWillChange");

    static KavrelNotifications &defaultCenter();

    void post(const QString &name);

Q_SIGNALS:
    void posted(const QString &name);

private:
    KavrelNotifications() = default;
};

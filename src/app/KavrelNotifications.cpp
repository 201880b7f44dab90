#include "app/KavrelNotifications.h"

KavrelNotifications &KavrelNotifications::defaultCenter()
{
    static KavrelNotifications *center = new KavrelNotifications();
    return *center;
}

void KavrelNotifications::post(const QString &name)
{
    Q_EMIT posted(name);
}

#pragma once

#include <QDBusVirtualObject>
#include <QPointer>

class QDBusMessage;

// What a client on the accessibility bus sends passes here before Qt's bus bridge reads it.
//
// An insert names its text and that text's length, which clients count in UTF-8 bytes (the
// library most of them use documents it so): "встреча" comes with 14. Qt 6.4's bridge takes the
// length for a count of characters and sizes the text to it, and what it adds past the text sent
// is whatever the memory held (NULs by chance, another string's leftovers otherwise, and 4 GB for
// a length of 2147483647). Here a length past the text sent is the text's own; a shorter one still
// inserts only that many characters.
//
// The bridge also answers every edit (set, insert, delete, cut, paste) with success, whatever
// became of it, and edits a part that offers no editable text by handing the part a text it
// rebuilt itself, padded to whatever offset the client named, as its new value. Here the edits are
// answered instead: made through the part's editable text (KavrelBoundedEditableText.h), offered
// only where the user may type, and answered with whether the text took them. A part that offers
// none answers false and changes nothing, its text, its name and the clipboard kept. An edit
// whose arguments are not the ones it takes is answered with an error (the bridge reads arguments
// that are not there). Everything else goes to the bridge as it came.
//
// The gate takes the bridge's place on the bus once the bridge has registered there (as soon as
// accessibility becomes active) and hands every message on to it. Main thread only.
class KavrelAccessibilityBusGate final : public QDBusVirtualObject
{
    Q_OBJECT

public:
    static void install();

    // `message` as the bridge is to read it.
    static QDBusMessage admitted(const QDBusMessage &message);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    KavrelAccessibilityBusGate(QDBusVirtualObject *bridge, QObject *parent);
    // Stands in front of the bridge, if it is on the bus and nothing stands there yet.
    static void standInFront();

    QPointer<QDBusVirtualObject> m_bridge;
};

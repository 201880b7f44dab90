#pragma once

#include "platform/X11WindowList.h"

#include <QObject>
#include <QThread>

#include <optional>

// Reads the window manager's list of on-screen windows on a worker thread, so a slow X server
// never holds up the windows, and keeps the latest answer for the main thread. The list follows
// the server's reports of changes: while no window moves, a read asks the server nothing.
//
// requestRead() and latest() run on the main thread; the X11 connection lives on the worker.
class KavrelWindowListReader final : public QObject
{
    Q_OBJECT

public:
    // devicePixelRatio: the ratio the program's windows are drawn with.
    explicit KavrelWindowListReader(double devicePixelRatio = 1.0, QObject *parent = nullptr);
    ~KavrelWindowListReader() override;

    // Starts a read unless one is running or the X server reported nothing since the last one
    // that can change the list (the latest answer still holds); snapshotRead() follows a read.
    void requestRead();
    // The latest answer; unreadable until the first read has finished.
    const std::optional<X11WindowListSnapshot> &latest() const { return m_latest; }
    bool hasRead() const { return m_hasRead; }

Q_SIGNALS:
    void snapshotRead();

private:
    class Worker;

    QThread m_thread;
    Worker *m_worker = nullptr;
    std::optional<X11WindowListSnapshot> m_latest;
    bool m_hasRead = false;
    bool m_readInFlight = false;
};

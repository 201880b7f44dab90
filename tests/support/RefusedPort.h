#pragma once

#include <QtGlobal>

// A loopback TCP port where every connection is refused for as long as this object lives: a
// socket is bound to it and never listens. A port taken with a server and given up again can be
// handed to a test running beside this one before the connection is tried.
class RefusedPort final
{
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort &) = delete;
    RefusedPort &operator=(const RefusedPort &) = delete;

    quint16 port() const { return m_port; }

private:
    int m_socket = -1;
    quint16 m_port = 0;
};

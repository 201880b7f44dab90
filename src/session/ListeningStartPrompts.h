#pragma once

#include "session/SessionModel.h"

#include <qcoro/qcorotask.h>

// The two questions asked before a session starts. Each returns the user's answer once it is
// given; the window stays responsive while the question is open (no nested event loop).
// main.cpp passes the message-box implementation; tests answer with a script.
class ListeningStartPrompts
{
public:
    virtual ~ListeningStartPrompts() = default;

    // "Start listening?": "Start New" gives newSession, any other answer continuePrevious.
    virtual QCoro::Task<ListeningSessionStartMode> askStartMode() = 0;
    // "Turn on microphone?": true only for "Turn On Microphone".
    virtual QCoro::Task<bool> askMicrophone() = 0;
    // Brings the question that is open to the front, if one is.
    virtual void raiseOpenQuestion() {}
};

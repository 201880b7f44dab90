#pragma once

#include <QObject>

// A running Apple authorization request. A provider implements it and reports the outcome
// to its AppleAuthorizationSession.
class AppleAuthorizationController : public QObject
{
    Q_OBJECT

public:
    explicit AppleAuthorizationController(QObject *parent = nullptr) : QObject(parent) {}
    ~AppleAuthorizationController() override = default;

    // Stops the request; the provider then reports nothing more.
    virtual void cancel() = 0;
};

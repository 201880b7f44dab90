#pragma once

#include "base/KavrelError.h"

// Why the version feed gave no answer, in words for the user: the feed's own faults, never
// the wire's details (those go to the log).
class KavrelUpdaterError final : public KavrelError
{
public:
    enum class Case {
        feedStatus,        // payload: the HTTP status the feed answered with
        invalidFeed,       // the answer is not a version feed (not JSON, no version)
        unreadableVersion, // the feed names a version that cannot be compared with this one
    };

    static KavrelUpdaterError feedStatus(int status) { return KavrelUpdaterError(Case::feedStatus, status); }
    static KavrelUpdaterError invalidFeed() { return KavrelUpdaterError(Case::invalidFeed); }
    static KavrelUpdaterError unreadableVersion() { return KavrelUpdaterError(Case::unreadableVersion); }

    explicit KavrelUpdaterError(Case errorCase, int status = 0) : m_case(errorCase), m_status(status) {}

    Case errorCase() const { return m_case; }
    QString message() const override;

private:
    Case m_case;
    int m_status;
};

#pragma once

// The end of a soak run: what the engine, the draft, the server's records, the usage events
// and the recordings hold, against what the run wrote down; memory after the last turn
// against the figure after the warm-up; and nothing left running once the engine is gone.

#include <QList>
#include <QString>

#include <vector>

class MeetingSoak;
class SessionTurnStore;
struct SessionTurn;

class SoakChecks final
{
public:
    explicit SoakChecks(MeetingSoak &soak);

    void run();

    // The turns' texts and translations, as UTF-16.
    static qint64 textBytes(const SessionTurnStore &turns);
    // The tags ("#12#") a text carries, in order, as numbers.
    static QList<int> tagsIn(const QString &text);

private:
    void checkViewModel();
    void checkDraft();
    void checkServerRecords();
    void checkUsageEvents();
    void checkRecordings();
    void checkMemory();
    void checkNothingRunning();

    MeetingSoak &m_soak;
    std::vector<SessionTurn> m_turns;
};

#pragma once

// The meeting the transcript benchmarks run on: closed turns of one ordinary sentence with its
// translation, and one more final result with its translation as the relay would bring it.

#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <QUuid>

#include <vector>

namespace BenchTurns {

inline SessionTurn closedTurn(int index, const QDateTime &start, int secondsApart = 1)
{
    SessionTurn turn;
    turn.id = QUuid::createUuid();
    turn.text = QStringLiteral("Turn %1: we should move the release to Thursday and check the numbers first.").arg(index);
    turn.translationText = QStringLiteral("Реплика %1: перенесём релиз на четверг и сначала проверим цифры.").arg(index);
    turn.timestamp = start.addSecs(qint64(index) * secondsApart);
    turn.isClosed = true;
    return turn;
}

inline void fillClosedTurns(SessionTurnStore &store, int count)
{
    std::vector<SessionTurn> turns;
    const QDateTime start = QDateTime::currentDateTime();
    for (int i = 0; i < count; ++i)
        turns.push_back(closedTurn(i, start));
    store.replaceAll(std::move(turns));
}

inline void applyFinalResult(SessionTurnStore &store, int number)
{
    store.applyFinalTranscript(QStringLiteral("A new final result number %1 about the budget.").arg(number), true);
    store.setTranslationText(store.count() - 1, QStringLiteral("Новый итоговый результат номер %1 о бюджете.").arg(number));
}

// Waits until the draft of the last change is written, so the next timed change does not pay for it.
inline void settleDraft(SessionDraftStore &draft)
{
    QElapsedTimer clock;
    clock.start();
    while (draft.hasPendingAutosave() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
}

} // namespace BenchTurns

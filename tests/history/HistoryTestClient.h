#pragma once

// A KavrelHistoryClient whose every call waits until the test answers it, so a test can
// release replies in any order it likes. Calls are recorded in the order they were made.

#include "history/KavrelHistoryClient.h"
#include "services/MeetingSessionHistoryServiceError.h"

#include <QList>
#include <QString>

#include <coroutine>
#include <exception>
#include <utility>
#include <memory>
#include <optional>

// Answering a call resumes its caller at once, inside answer().
class HistoryTestCall final
{
public:
    QString operation;
    QString id;
    qint64 revision = 0;
    MeetingSessionHistoryListQuery query;
    MeetingSessionHistorySnapshot snapshot;
    QString transcript;
    QString languageName;

    bool answered = false;
    std::exception_ptr error;
    MeetingSessionHistoryListPage page;
    MeetingSessionHistoryDetail detail;
    QString summary;

    void answerPage(MeetingSessionHistoryListPage value) { page = std::move(value); answer(); }
    void answerDetail(MeetingSessionHistoryDetail value) { detail = std::move(value); answer(); }
    void answerSummary(QString value) { summary = std::move(value); answer(); }
    void answer()
    {
        answered = true;
        if (std::coroutine_handle<> waiter = std::exchange(m_waiter, nullptr))
            waiter.resume();
    }
    void fail(const QString &message) { fail(MeetingSessionHistoryServiceError::graphqlRequestFailed(message)); }
    void fail(const MeetingSessionHistoryServiceError &serviceError)
    {
        error = std::make_exception_ptr(serviceError);
        answer();
    }

    struct Awaiter
    {
        HistoryTestCall *call;
        bool await_ready() const noexcept { return call->answered; }
        void await_suspend(std::coroutine_handle<> handle) { call->m_waiter = handle; }
        void await_resume() const
        {
            if (call->error)
                std::rethrow_exception(call->error);
        }
    };
    Awaiter wait() { return Awaiter{this}; }

private:
    std::coroutine_handle<> m_waiter;
};

class HistoryTestClient final : public KavrelHistoryClient
{
public:
    QList<std::shared_ptr<HistoryTestCall>> calls;

    // Calls of one operation, in order.
    QList<std::shared_ptr<HistoryTestCall>> callsOf(const QString &operation) const
    {
        QList<std::shared_ptr<HistoryTestCall>> found;
        for (const auto &call : calls) {
            if (call->operation == operation)
                found.append(call);
        }
        return found;
    }
    // The oldest unanswered call of the operation, or null.
    std::shared_ptr<HistoryTestCall> pending(const QString &operation) const
    {
        for (const auto &call : calls) {
            if (call->operation == operation && !call->answered)
                return call;
        }
        return nullptr;
    }

    QCoro::Task<MeetingSessionHistoryListPage> fetchSessions(MeetingSessionHistoryListQuery query) override
    {
        auto call = record(QStringLiteral("fetchSessions"));
        call->query = query;
        co_await call->wait();
        co_return call->page;
    }
    QCoro::Task<MeetingSessionHistoryDetail> fetchSessionDetail(QString id) override
    {
        auto call = record(QStringLiteral("fetchSessionDetail"));
        call->id = id;
        co_await call->wait();
        co_return call->detail;
    }
    QCoro::Task<void> deleteSession(QString id) override
    {
        auto call = record(QStringLiteral("deleteSession"));
        call->id = id;
        co_await call->wait();
    }
    QCoro::Task<MeetingSessionHistoryRemoteState> updateSession(QString id, qint64 revision,
                                                                MeetingSessionHistorySnapshot snapshot) override
    {
        auto call = record(QStringLiteral("updateSession"));
        call->id = id;
        call->revision = revision;
        call->snapshot = snapshot;
        co_await call->wait();
        MeetingSessionHistoryRemoteState state;
        state.id = id;
        state.revision = revision + 1;
        co_return state;
    }
    QCoro::Task<QString> summarize(QString transcript, QString inputLanguageName, QString outputLanguageName) override
    {
        auto call = record(QStringLiteral("summarize"));
        call->transcript = transcript;
        call->languageName = inputLanguageName + QLatin1Char('/') + outputLanguageName;
        co_await call->wait();
        co_return call->summary;
    }

private:
    std::shared_ptr<HistoryTestCall> record(const QString &operation)
    {
        auto call = std::make_shared<HistoryTestCall>();
        call->operation = operation;
        calls.append(call);
        return call;
    }
};

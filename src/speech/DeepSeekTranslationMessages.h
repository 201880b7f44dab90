#pragma once

// What the live translation clients exchange with the session engine: the events they
// report, and the earlier turns the engine hands them as context.

#include <QString>
#include <QUuid>

// What the translation clients report to the session engine: an interim translation of a
// turn, its final translation, or a failure text to show (which names no turn).
struct DeepSeekTranslationEvent
{
    enum class Kind {
        preview,
        completed,
        failed,
    };

    Kind kind = Kind::failed;
    QUuid turnID; // preview and completed
    QString text; // the translation, or the failure text

    static DeepSeekTranslationEvent preview(const QUuid &turnID, QString text)
    {
        return DeepSeekTranslationEvent{Kind::preview, turnID, std::move(text)};
    }
    static DeepSeekTranslationEvent completed(const QUuid &turnID, QString text)
    {
        return DeepSeekTranslationEvent{Kind::completed, turnID, std::move(text)};
    }
    static DeepSeekTranslationEvent failed(QString message)
    {
        return DeepSeekTranslationEvent{Kind::failed, QUuid(), std::move(message)};
    }

    bool operator==(const DeepSeekTranslationEvent &) const = default;
};

// One earlier turn and its translation, given as context to a translation request.
struct DeepSeekTranslationHistoryTurn
{
    QString source;
    QString translation;

    bool operator==(const DeepSeekTranslationHistoryTurn &) const = default;
};

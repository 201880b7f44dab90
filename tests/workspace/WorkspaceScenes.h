#pragma once

// The states of the main window that the screenshots show.

#include "WorkspaceHarness.h"

#include "kit/widgets/KavrelSymbols.h"
#include "session/AIResultPanelSet.h"
#include "session/SessionCompanionSet.h"
#include "support/ScreenFitCheck.h"
#include "support/Screenshots.h"

#include <QJsonArray>
#include <QJsonObject>

namespace WorkspaceTest {

inline FakeResponse chatReply(const QString &content)
{
    QJsonObject message;
    message.insert(QStringLiteral("role"), QStringLiteral("assistant"));
    message.insert(QStringLiteral("content"), content);
    QJsonObject choice;
    choice.insert(QStringLiteral("index"), 0);
    choice.insert(QStringLiteral("message"), message);
    choice.insert(QStringLiteral("finish_reason"), QStringLiteral("stop"));
    QJsonObject body;
    body.insert(QStringLiteral("id"), QStringLiteral("chatcmpl-1"));
    body.insert(QStringLiteral("choices"), QJsonArray{choice});
    return FakeResponse::json(200, body);
}

// Gives the window the variant's look and language (the view model's store included).
inline void applyVariant(Workspace &w, const Screenshots::Variant &variant)
{
    KavrelSymbols::setUsesIconTheme(false);
    Screenshots::apply(w.view.get(), variant);
    w.engine.localization->setLanguage(variant.language);
}

// A running session with 30 translated turns and a live line whose translation is pending, as
// with every turn while translation is on ("Translating..." beside it).
inline bool listenWithTurns(Workspace &w, int turns = 30)
{
    if (!w.engine.start(ListeningSessionStartMode::newSession, false))
        return false;
    w.fillTurns(turns, true);
    w.engine.model->turnStore()->setLiveSubtitlePreview(QStringLiteral("and one more thing about the budget"));
    w.engine.model->turnStore()->setLiveTranslationPreview(QStringLiteral("и ещё одно по бюджету"));
    return w.engine.model->hasActiveSession();
}

// The transcript summary panel open with a result.
inline bool openSummary(Workspace &w)
{
    w.auth->setChatCompletionReply(chatReply(QStringLiteral(
        "- The release moves to Thursday.\n- Numbers are checked first.\n- Anna owns the follow-up with the vendor.")));
    w.engine.model->summarizeSourceText();
    return QTest::qWaitFor([&] {
        return w.engine.model->isTranscriptSummaryVisible() && !w.engine.model->isTranscriptSummaryLoading();
    }, 10000);
}

} // namespace WorkspaceTest

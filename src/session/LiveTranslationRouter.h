#pragma once

#include "base/Async.h"
#include "session/SessionCompanions.h"
#include "session/SessionModel.h"
#include "speech/DeepSeekTranslationMessages.h"
#include "accounts/KavrelBackendProxyService.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

class KavrelLocalizationStore;
class SessionTurnStore;

// Joins the dialogue turns to the live translation client: opens the translation session for
// a streaming session, hands it the text of open and closed turns, writes its answers into
// the turns, keeps the on-screen preview of the turn being spoken, backfills turns that have
// no translation yet and keeps the client's context up to date.
//
// A preview that never received its final translation is kept as the turn's translation
// when the turn closes and when the session stops. The live translation line and the
// availability flag live in SessionTurnStore (which hands turns to the client only while
// translation is available); the notice under the translation panel is the session's.
//
// Main thread only.
class LiveTranslationRouter final : public QObject, public TranslationRouting
{
    Q_OBJECT

public:
    struct Settings
    {
        bool isTranslationEnabled = true;
        SourceLanguageOption source = SourceLanguageOption::russian;
        TranslationLanguageOption target = TranslationLanguageOption::english;
    };
    using SettingsProvider = std::function<Settings()>;
    // True while the streaming session of that generation is the prepared, current one.
    using SessionGuard = std::function<bool(const QUuid &generation)>;
    // Shows the notice under the translation panel (nothing clears it).
    using MessageWriter = std::function<void(const std::optional<QString> &message)>;

    // None of the arguments is owned; all must outlive this object.
    LiveTranslationRouter(KavrelLiveTranslationV2Service *service, SessionTurnStore *turns,
                          const KavrelLocalizationStore &localization, SettingsProvider settings, SessionGuard sessionGuard,
                          MessageWriter messageWriter, QObject *parent = nullptr);
    ~LiveTranslationRouter() override;

    KavrelLiveTranslationV2Service *service() const { return m_service; }

    // True only while a prepared translation session may be used.
    bool isTranslationAvailable() const;
    // A preview is on screen or waits to be written into its turn: a stable rewrite waits.
    bool hasPendingPreview() const;
    QHash<QUuid, QString> pendingTranslationDrafts() const { return m_pendingTranslationDrafts; }
    std::optional<QUuid> translationPreviewTurnID() const { return m_translationPreviewTurnID; }
    // The target language of the translation session whose answers are read now: the language
    // of every translation it writes into a turn, whatever is selected meanwhile.
    std::optional<TranslationLanguageOption> sessionLanguage() const { return m_sessionLanguage; }

    // Opens the translation session for the streaming session of `generation`; a cancelled
    // token counts as a session that ended.
    QCoro::Task<void> prepareTranslationIfPossible(QUuid generation) override;
    QCoro::Task<void> prepareTranslation(QUuid generation, CancellationToken token);
    QCoro::Task<void> enqueueUntranslatedTurnsForTranslation(QUuid generation, CancellationToken token);
    void applyTranslationEvent(const DeepSeekTranslationEvent &event);
    // The translation clients keep this many of the newest pairs as context.
    static constexpr qsizetype historyContextTurns = 4;
    // Context for the client: the newest turns with both a text and a translation (at most
    // historyContextTurns), in order.
    QList<DeepSeekTranslationHistoryTurn> translationHistoryTurns() const;
    // At stop, before the open turn closes: every pending preview becomes (part of) its turn's
    // translation, and the preview state is emptied.
    void commitPendingTranslationDrafts() override;
    // Forgets every preview (a stop, a failed start, a cleared session).
    void clearPreviews() override;
    // Source and target became the same language: the previewed turn is forgotten; its text
    // stays pending for the stop to commit.
    void translationWasTurnedOff() override;

    // The running background work (reset, history), for tests and a graceful quit.
    TaskHandle<void> lastBackgroundTask() const { return m_lastBackgroundTask; }

private:
    void setTranslationAvailable(bool available);
    void setLiveTranslationPreview(const QString &preview);
    void setTranslationMessage(const std::optional<QString> &message);
    void promotePendingTranslationDraftIfAvailable(const QUuid &turnID, int turnIndex);
    void applyCompletedTranslationChunk(const QString &text, const QUuid &turnID);
    void resetServiceInBackground();
    void replaceHistoryInBackground();
    QString targetLanguageName() const;

    QPointer<KavrelLiveTranslationV2Service> m_service;
    QPointer<SessionTurnStore> m_turns;
    const KavrelLocalizationStore &m_localization;
    SettingsProvider m_settings;
    SessionGuard m_sessionGuard;
    MessageWriter m_writeMessage;

    QHash<QUuid, QString> m_pendingTranslationDrafts;
    std::optional<QUuid> m_translationPreviewTurnID;
    std::optional<TranslationLanguageOption> m_sessionLanguage;
    // Counts preparations, so one that lost its session can tell whether a newer one took over
    // the client since.
    quint64 m_preparationSerial = 0;
    TaskHandle<void> m_lastBackgroundTask;
};

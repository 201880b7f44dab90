#pragma once

#include "session/PublishedTranscript.h"
#include "session/SessionDraft.h"

#include <QObject>
#include <QTimer>
#include <QString>

#include <chrono>
#include <functional>

class SessionDraftWriter;
class SessionTurnStore;
class UserDefaults;

// Keeps the session draft in the user defaults under "kavrel.session.localDraft.v2". It owns
// the pending autosave and the fingerprint of what was last written.
//
// A change of the turns schedules a write 0.24 s later. A change that finds a write pending
// makes that write happen at once (with the content of that moment, which holds the change)
// and schedules its own; a write whose content equals the last one is skipped. Clearing the
// session removes the draft; a pending write then stores the emptied session.
//
// The autosave only takes what changed since the last hand-over on this thread (the turns from
// the first changed one, the rendered texts with how much of them is as it was, told by the
// turn store's and the published transcript's signals); SessionDraftWriter judges, encodes and
// writes it on its worker. persistDraftIfNeeded() and flushPendingAutosave() write on the
// calling thread, after the worker's write on its way.
//
// The texts of the AI panels are read and restored through setPanelTextAccess(); until the
// panels are connected the draft carries empty panel texts. The account the meeting belongs to
// is read through setAccountAccess() and written with the draft; the restored draft's is kept
// for whoever takes the meeting up (restoredAccountID()).
//
// Main thread only.
class SessionDraftStore final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *defaultsKey = "kavrel.session.localDraft.v2";
    static constexpr std::chrono::milliseconds defaultAutosaveDelay{240};

    SessionDraftStore(UserDefaults &defaults, SessionTurnStore *turns, PublishedTranscript *published,
                      QObject *parent = nullptr);

    void setAutosaveDelay(std::chrono::milliseconds delay) { m_autosaveDelay = delay; }
    std::chrono::milliseconds autosaveDelay() const { return m_autosaveDelay; }
    void setPanelTextAccess(std::function<AIPanelTexts()> read, std::function<void(const AIPanelTexts &)> apply);
    void setAccountAccess(std::function<std::optional<QString>()> read) { m_readAccount = std::move(read); }
    // The account of the draft restored last; nothing when it names none.
    std::optional<QString> restoredAccountID() const { return m_restoredAccountID; }

    void scheduleDraftAutosave();
    // Writes the draft now unless its content was written last.
    void persistDraftIfNeeded();
    // Hands what changed to the worker (what the autosave does when its delay has passed).
    void persistDraftInBackground();
    // Writes what is pending at once (the graceful quit).
    void flushPendingAutosave();
    // A write is scheduled, waiting for the worker or on its way.
    bool hasPendingAutosave() const;

    QString draftFingerprint() const;
    SessionDraft makeSessionDraft() const;
    void applyDraft(const SessionDraft &draft);
    // Loads the stored draft, if there is a readable one. True when one was applied.
    bool restoreDraftIfAvailable();
    // Forgets the stored draft (the session is being cleared).
    void removeStoredDraft();

    QString lastSavedDraftFingerprint() const;
    // The last write of the draft failed, and no write has succeeded since (the settings layer
    // keeps trying).
    bool isDraftSaveFailing() const { return m_saveFailing; }

Q_SIGNALS:
    // A draft was restored; closedTurnCount turns are closed (the rewriting resumes after them).
    void draftApplied(int closedTurnCount);
    void draftWritten();
    void draftSaveFailingChanged(bool failing);
    // What changed is about to be handed to the writer; values to be written with the draft are
    // set now (on the main thread), so they are in the file by the time the draft is.
    void draftHandingOver();

private:
    void setSaveFailing(bool failing);
    AIPanelTexts panelTexts() const;
    std::optional<QString> accountID() const;
    // What changed since the last hand-over; what comes next is judged against this.
    SessionDraftChange takeChange();
    void noteTurnChanged(int index);
    void noteTextEdited(PublishedTranscript::Column column, qsizetype from);

    UserDefaults &m_defaults;
    SessionTurnStore *m_turns;
    PublishedTranscript *m_published;
    std::chrono::milliseconds m_autosaveDelay = defaultAutosaveDelay;
    std::function<AIPanelTexts()> m_readPanelTexts;
    std::function<void(const AIPanelTexts &)> m_applyPanelTexts;
    std::function<std::optional<QString>()> m_readAccount;
    std::optional<QString> m_restoredAccountID;
    QTimer m_autosaveTimer;
    SessionDraftWriter *m_writer;
    // Since the last hand-over: the first turn that may have changed, and the characters at the
    // start of each rendered text that are as they were. Nothing is known before the first one.
    std::size_t m_firstChangedTurn = 0;
    std::size_t m_handedTurnCount = 0;
    qsizetype m_subtitlesKept = 0;
    qsizetype m_translatedKept = 0;
    bool m_saveFailing = false;
};

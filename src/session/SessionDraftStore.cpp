#include "session/SessionDraftStore.h"

#include "base/KavrelDiagnostics.h"
#include "base/Text.h"
#include "platform/UserDefaults.h"
#include "session/PublishedTranscript.h"
#include "session/SessionDraftWriter.h"
#include "session/SessionTurnStore.h"

#include <algorithm>
#include <limits>

SessionDraftStore::SessionDraftStore(UserDefaults &defaults, SessionTurnStore *turns, PublishedTranscript *published,
                                     QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_turns(turns)
    , m_published(published)
    , m_writer(new SessionDraftWriter(defaults, QString::fromLatin1(defaultsKey), this))
{
    m_autosaveTimer.setSingleShot(true);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &SessionDraftStore::persistDraftInBackground);
    connect(m_writer, &SessionDraftWriter::draftWritten, this, &SessionDraftStore::draftWritten);
    connect(m_writer, &SessionDraftWriter::draftWritten, this, [this] { setSaveFailing(false); });
    connect(m_writer, &SessionDraftWriter::draftWriteFailed, this, [this] { setSaveFailing(true); });
    // The settings layer's own retry puts the unsaved draft on the disk.
    connect(&defaults, &UserDefaults::writeFailingChanged, this, [this](bool failing) {
        if (!failing)
            setSaveFailing(false);
    });
    // Every change of a turn is announced with its index (a reset as a change of all).
    connect(turns, &SessionTurnStore::turnOpened, this, &SessionDraftStore::noteTurnChanged);
    connect(turns, &SessionTurnStore::turnChanged, this, &SessionDraftStore::noteTurnChanged);
    connect(turns, &SessionTurnStore::turnClosed, this, &SessionDraftStore::noteTurnChanged);
    connect(turns, &SessionTurnStore::turnRemoved, this, &SessionDraftStore::noteTurnChanged);
    connect(turns, &SessionTurnStore::turnsReset, this, [this] { noteTurnChanged(0); });
    connect(published, &PublishedTranscript::textEdited, this, &SessionDraftStore::noteTextEdited);
}

void SessionDraftStore::noteTurnChanged(int index)
{
    m_firstChangedTurn = std::min(m_firstChangedTurn, std::size_t(std::max(index, 0)));
}

void SessionDraftStore::noteTextEdited(PublishedTranscript::Column column, qsizetype from)
{
    qsizetype &kept = column == PublishedTranscript::Column::transcript ? m_subtitlesKept : m_translatedKept;
    kept = std::min(kept, from);
}

SessionDraftChange SessionDraftStore::takeChange()
{
    const std::vector<SessionTurn> &turns = m_turns->turns();
    SessionDraftChange change;
    // The writer has the turns before it as they are; not one past those it was handed.
    change.firstTurn = std::min({m_firstChangedTurn, m_handedTurnCount, turns.size()});
    change.turns.assign(turns.begin() + std::ptrdiff_t(change.firstTurn), turns.end());
    change.subtitlesText = m_published->subtitlesText();
    change.subtitlesKept = m_subtitlesKept;
    change.translatedText = m_published->translatedText();
    change.translatedKept = m_translatedKept;
    change.panels = panelTexts();
    change.accountID = accountID();
    m_firstChangedTurn = std::numeric_limits<std::size_t>::max();
    m_handedTurnCount = turns.size();
    m_subtitlesKept = std::numeric_limits<qsizetype>::max();
    m_translatedKept = std::numeric_limits<qsizetype>::max();
    return change;
}

void SessionDraftStore::setPanelTextAccess(std::function<AIPanelTexts()> read,
                                           std::function<void(const AIPanelTexts &)> apply)
{
    m_readPanelTexts = std::move(read);
    m_applyPanelTexts = std::move(apply);
}

void SessionDraftStore::scheduleDraftAutosave()
{
    // A pending write is not dropped: it happens on the next turn of the event loop, with the
    // content of that moment, and this change waits for its own write.
    if (m_autosaveTimer.isActive())
        QTimer::singleShot(0, this, &SessionDraftStore::persistDraftInBackground);
    m_autosaveTimer.start(m_autosaveDelay);
}

void SessionDraftStore::flushPendingAutosave()
{
    m_autosaveTimer.stop();
    persistDraftIfNeeded();
}

bool SessionDraftStore::hasPendingAutosave() const
{
    return m_autosaveTimer.isActive() || m_writer->isBusy();
}

void SessionDraftStore::persistDraftIfNeeded()
{
    Q_EMIT draftHandingOver();
    m_writer->writeNow(takeChange());
}

void SessionDraftStore::persistDraftInBackground()
{
    Q_EMIT draftHandingOver();
    m_writer->submit(takeChange());
}

void SessionDraftStore::setSaveFailing(bool failing)
{
    if (m_saveFailing == failing)
        return;
    m_saveFailing = failing;
    Q_EMIT draftSaveFailingChanged(failing);
}

QString SessionDraftStore::draftFingerprint() const
{
    return makeSessionDraft().fingerprint();
}

QString SessionDraftStore::lastSavedDraftFingerprint() const
{
    return m_writer->lastWrittenFingerprint();
}

SessionDraft SessionDraftStore::makeSessionDraft() const
{
    SessionDraft draft;
    draft.turns = m_turns->turns();
    draft.subtitlesText = m_published->subtitlesText();
    draft.translatedText = m_published->translatedText();
    draft.panels = panelTexts();
    draft.accountID = accountID();
    return draft;
}

void SessionDraftStore::applyDraft(const SessionDraft &draft)
{
    m_turns->clearSpeakerMaps();
    // The panels first: the turns' reset below announces the restored session.
    if (m_applyPanelTexts)
        m_applyPanelTexts(draft.panels);
    // A turn still open when the program ended is over: it comes back closed, so it is shown
    // and copied with the others, and new speech of a continued session starts its own turn
    // instead of joining one from the past under the old time.
    std::vector<SessionTurn> turns = draft.turns;
    if (!turns.empty() && !turns.back().isClosed) {
        SessionTurn &open = turns.back();
        open.text = Text::trimmed(open.text);
        open.isClosed = true;
        if (open.text.isEmpty())
            turns.pop_back();
    }
    // The rendered texts are derived from the turns, not taken from the draft.
    m_turns->replaceAll(std::move(turns));
    Q_EMIT draftApplied(m_turns->closedTurnCount());
}

bool SessionDraftStore::restoreDraftIfAvailable()
{
    const auto data = m_defaults.dataValue(QString::fromLatin1(defaultsKey));
    if (!data)
        return false;
    SessionDraft draft;
    try {
        draft = SessionDraft::fromJson(*data);
    } catch (const std::exception &error) {
        // An unreadable draft stays where it is; the next autosave replaces it.
        qCInfo(KavrelDiagnostics::session()).noquote() << "stored session draft ignored:" << error.what();
        return false;
    }
    m_restoredAccountID = draft.accountID;
    applyDraft(draft);
    // What is stored names the account it names, whatever the meeting has taken up since: a
    // difference is written with the next change.
    SessionDraftChange stored = takeChange();
    stored.accountID = draft.accountID;
    m_writer->takeStored(std::move(stored));
    return true;
}

void SessionDraftStore::removeStoredDraft()
{
    m_writer->forget();
    m_defaults.remove(QString::fromLatin1(defaultsKey));
}

AIPanelTexts SessionDraftStore::panelTexts() const
{
    return m_readPanelTexts ? m_readPanelTexts() : AIPanelTexts();
}

std::optional<QString> SessionDraftStore::accountID() const
{
    return m_readAccount ? m_readAccount() : std::nullopt;
}

#include "session/SessionDraftStore.h"

#include "base/KavrelDiagnostics.h"
#include "base/Text.h"
#include "platform/UserDefaults.h"
#include "session/PublishedTranscript.h"
#include "session/SessionTurnStore.h"

#include <QStringList>

SessionDraftStore::SessionDraftStore(UserDefaults &defaults, SessionTurnStore *turns, PublishedTranscript *published,
                                     QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_turns(turns)
    , m_published(published)
{
    m_autosaveTimer.setSingleShot(true);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &SessionDraftStore::persistDraftIfNeeded);
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
        QTimer::singleShot(0, this, &SessionDraftStore::persistDraftIfNeeded);
    m_autosaveTimer.start(m_autosaveDelay);
}

void SessionDraftStore::flushPendingAutosave()
{
    m_autosaveTimer.stop();
    persistDraftIfNeeded();
}

void SessionDraftStore::persistDraftIfNeeded()
{
    const QString fingerprint = draftFingerprint();
    if (fingerprint == m_lastSavedDraftFingerprint)
        return;
    m_defaults.setData(QString::fromLatin1(defaultsKey), makeSessionDraft().toJson());
    m_lastSavedDraftFingerprint = fingerprint;
    Q_EMIT draftWritten();
}

QString SessionDraftStore::draftFingerprint() const
{
    const AIPanelTexts panels = panelTexts();
    QStringList texts;
    QStringList translations;
    texts.reserve(m_turns->count());
    translations.reserve(m_turns->count());
    for (const SessionTurn &turn : m_turns->turns()) {
        texts.append(turn.text);
        translations.append(turn.translationText);
    }
    const QStringList parts = {m_published->subtitlesText(),
                               m_published->translatedText(),
                               panels.transcriptSummaryText,
                               panels.translationSummaryText,
                               panels.transcriptProtocolText,
                               panels.translationProtocolText,
                               panels.transcriptAnswerText,
                               panels.translationAnswerText,
                               texts.join(u'|'),
                               translations.join(u'|')};
    // Only a digest is kept between writes: the joined text is as long as the whole session.
    return Text::digest(parts.join(QStringLiteral("||")));
}

SessionDraft SessionDraftStore::makeSessionDraft() const
{
    SessionDraft draft;
    draft.turns = m_turns->turns();
    draft.subtitlesText = m_published->subtitlesText();
    draft.translatedText = m_published->translatedText();
    draft.panels = panelTexts();
    return draft;
}

void SessionDraftStore::applyDraft(const SessionDraft &draft)
{
    m_turns->clearSpeakerMaps();
    // The panels first: the turns' reset below announces the restored session.
    if (m_applyPanelTexts)
        m_applyPanelTexts(draft.panels);
    // The rendered texts are derived from the turns, not taken from the draft.
    m_turns->replaceAll(draft.turns);
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
    applyDraft(draft);
    m_lastSavedDraftFingerprint = draftFingerprint();
    return true;
}

void SessionDraftStore::removeStoredDraft()
{
    m_defaults.remove(QString::fromLatin1(defaultsKey));
    m_lastSavedDraftFingerprint.clear();
}

AIPanelTexts SessionDraftStore::panelTexts() const
{
    return m_readPanelTexts ? m_readPanelTexts() : AIPanelTexts();
}

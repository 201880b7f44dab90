#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "session/LiveTranslationRouter.h"
#include "session/SessionTurnStore.h"
#include "speech/TranslationTestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Event = DeepSeekTranslationEvent;

class tst_LiveTranslationRouter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void previewsAndCompletedTranslations();
    void promotionAndCommitKeepPreviews();
    void failurePausesAndResets();
    void preparationOpensTheSessionAndBackfillsInOrder();
    void backfillStopsWhenTheSessionStopsHolding();
    void disabledTranslationOpensNothing();
    void preparationThatLosesItsSessionClosesWhatItOpened();
    void historyLeavesOutBlankPairs();

private:
    // A closed turn "text" (index returned) and, when open is true, an open one.
    int closeTurn(const QString &text);
    void openTurn(const QString &text) { m_turns->applyFinalTranscript(text, false); }
    const SessionTurn &turn(int index) const { return m_turns->at(index); }
    void prepare() { QCoro::waitFor(m_router->prepareTranslation(m_generation, CancellationToken())); }

    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<KavrelLocalizationStore> m_localization;
    std::unique_ptr<TranslationTest::Fixture> m_fixture;
    std::unique_ptr<SessionTurnStore> m_turns;
    std::unique_ptr<LiveTranslationRouter> m_router;
    LiveTranslationRouter::Settings m_settings;
    QUuid m_generation;
    // How many more checks of the session guard hold (-1: all).
    int m_guardChecksLeft = -1;
    std::optional<QString> m_message;
};

void tst_LiveTranslationRouter::init()
{
    m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("preferences.ini")));
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_localization->setLanguage(KavrelAppLanguage::english);
    m_fixture = std::make_unique<TranslationTest::Fixture>();
    m_turns = std::make_unique<SessionTurnStore>([] { return QDateTime(QDate(2026, 5, 4), QTime(10, 0)); });
    m_settings = LiveTranslationRouter::Settings();
    m_generation = QUuid::createUuid();
    m_guardChecksLeft = -1;
    m_message.reset();
    m_router = std::make_unique<LiveTranslationRouter>(
        m_fixture->service.get(), m_turns.get(), *m_localization, [this] { return m_settings; },
        [this](const QUuid &generation) {
            if (m_guardChecksLeft == 0)
                return false;
            if (m_guardChecksLeft > 0)
                --m_guardChecksLeft;
            return generation == m_generation;
        },
        [this](const std::optional<QString> &message) { m_message = message; });
}

void tst_LiveTranslationRouter::cleanup()
{
    m_router.reset();
    m_turns.reset();
    m_fixture.reset();
}

int tst_LiveTranslationRouter::closeTurn(const QString &text)
{
    m_turns->applyFinalTranscript(text, true);
    return m_turns->count() - 1;
}

void tst_LiveTranslationRouter::previewsAndCompletedTranslations()
{
    const int closed = closeTurn(QStringLiteral("Guten Tag."));
    openTurn(QStringLiteral("Wie geht"));
    const QUuid openID = turn(1).id;
    const QUuid unknown = QUuid::createUuid();

    // A preview for no turn is kept and shown; one for a closed turn is dropped.
    m_router->applyTranslationEvent(Event::preview(unknown, QStringLiteral(" ghost ")));
    QCOMPARE(m_turns->liveTranslationPreview(), QStringLiteral("ghost"));
    m_router->applyTranslationEvent(Event::preview(turn(closed).id, QStringLiteral("late")));
    QCOMPARE(m_turns->liveTranslationPreview(), QStringLiteral("ghost"));
    QVERIFY(!m_router->pendingTranslationDrafts().contains(turn(closed).id));

    // A newer preview of the same turn replaces the older one.
    m_router->applyTranslationEvent(Event::preview(openID, QStringLiteral("How")));
    m_router->applyTranslationEvent(Event::preview(openID, QStringLiteral("How are ")));
    QCOMPARE(m_router->pendingTranslationDrafts().value(openID), QStringLiteral("How are "));
    QCOMPARE(m_turns->liveTranslationPreview(), QStringLiteral("How are"));

    // A completed translation of another turn leaves the preview on screen.
    m_router->applyTranslationEvent(Event::completed(turn(closed).id, QStringLiteral(" Good day. ")));
    QCOMPARE(turn(closed).translationText, QStringLiteral("Good day."));
    QCOMPARE(m_turns->liveTranslationPreview(), QStringLiteral("How are"));

    // A blank completed translation empties the turn's translation.
    m_router->applyTranslationEvent(Event::completed(turn(closed).id, QStringLiteral("  ")));
    QCOMPARE(turn(closed).translationText, QString());

    // The turn's own completed translation clears its preview.
    m_router->applyTranslationEvent(Event::completed(openID, QStringLiteral("How are you")));
    QCOMPARE(m_turns->liveTranslationPreview(), QString());
    QCOMPARE(m_router->translationPreviewTurnID(), std::nullopt);
    QCOMPARE(turn(1).translationText, QStringLiteral("How are you"));
    QVERIFY(!m_router->pendingTranslationDrafts().contains(openID));
}

void tst_LiveTranslationRouter::promotionAndCommitKeepPreviews()
{
    openTurn(QStringLiteral("Erstens"));
    const QUuid first = turn(0).id;
    m_router->applyTranslationEvent(Event::preview(first, QStringLiteral(" First ")));
    m_turns->finalizeCurrentTurnIfNeeded();
    QCOMPARE(turn(0).translationText, QStringLiteral("First"));
    QCOMPARE(m_turns->liveTranslationPreview(), QString());
    // The completed translation replaces the promoted preview.
    m_router->applyTranslationEvent(Event::completed(first, QStringLiteral("Firstly")));
    QCOMPARE(turn(0).translationText, QStringLiteral("Firstly"));

    // A blank pending preview is dropped at close and the translation stays.
    openTurn(QStringLiteral("Zweitens"));
    m_turns->setTranslationText(1, QStringLiteral("Secondly"));
    m_router->applyTranslationEvent(Event::preview(turn(1).id, QStringLiteral("  ")));
    m_turns->finalizeCurrentTurnIfNeeded();
    QCOMPARE(turn(1).translationText, QStringLiteral("Secondly"));
    QVERIFY(m_router->pendingTranslationDrafts().isEmpty());

    // At stop a preview is appended to the translation its turn already has.
    openTurn(QStringLiteral("Drittens"));
    m_turns->setTranslationText(2, QStringLiteral("Third"));
    m_router->applyTranslationEvent(Event::preview(turn(2).id, QStringLiteral("ly, we ")));
    m_router->applyTranslationEvent(Event::preview(QUuid::createUuid(), QStringLiteral("orphan")));
    m_router->commitPendingTranslationDrafts();
    QCOMPARE(turn(2).translationText, QStringLiteral("Third ly, we"));
    QVERIFY(!m_router->hasPendingPreview());
    QCOMPARE(m_router->translationPreviewTurnID(), std::nullopt);
}

void tst_LiveTranslationRouter::failurePausesAndResets()
{
    QVERIFY(m_fixture->startReady());
    m_turns->setTranslationAvailable(true);
    openTurn(QStringLiteral("eins"));
    const QUuid other = QUuid::createUuid();
    m_router->applyTranslationEvent(Event::preview(other, QStringLiteral("other")));
    m_router->applyTranslationEvent(Event::preview(turn(0).id, QStringLiteral("one")));

    m_router->applyTranslationEvent(Event::failed(QStringLiteral("quota exceeded")));
    QVERIFY(!m_turns->isTranslationAvailable());
    QCOMPARE(m_turns->liveTranslationPreview(), QString());
    QCOMPARE(m_message, std::optional<QString>(QStringLiteral("English translation was paused: quota exceeded")));
    // Only the preview on screen is forgotten.
    QCOMPARE(m_router->pendingTranslationDrafts().keys(), QList<QUuid>{other});
    QVERIFY(FakeBackend::waitUntil([&] { return m_router->lastBackgroundTask().isFinished(); }));
    QVERIFY(!m_fixture->service->isReady());
    QVERIFY(!m_fixture->service->hasConfiguredSession());
}

void tst_LiveTranslationRouter::preparationOpensTheSessionAndBackfillsInOrder()
{
    m_settings.source = SourceLanguageOption::german;
    m_settings.target = TranslationLanguageOption::french;
    const int done = closeTurn(QStringLiteral("Schon übersetzt."));
    m_turns->setTranslationText(done, QStringLiteral("Déjà traduit."));
    closeTurn(QStringLiteral("Noch nicht."));
    openTurn(QStringLiteral("Und jetzt"));
    m_message = QStringLiteral("old notice");

    prepare();
    QVERIFY(m_turns->isTranslationAvailable());
    QCOMPARE(m_message, std::nullopt);
    QCOMPARE(m_fixture->service->emergencyHistory(),
             (QList<DeepSeekTranslationHistoryTurn>{{QStringLiteral("Schon übersetzt."), QStringLiteral("Déjà traduit.")}}));

    QVERIFY(FakeBackend::waitUntil([&] { return m_fixture->relay->allV2Received(QStringLiteral("translate_final")).size() == 1
                                                && !m_fixture->relay->allV2Received(QStringLiteral("translate_preview")).isEmpty(); }));
    const QJsonObject configure = m_fixture->relay->allV2Received(QStringLiteral("configure")).first();
    QCOMPARE(configure.value("sourceLanguage").toString(), QStringLiteral("de"));
    QCOMPARE(configure.value("targetLanguage").toString(), QStringLiteral("fr"));
    QCOMPARE(m_fixture->relay->allV2Received(QStringLiteral("translate_final")).first().value("turnId").toString(),
             TranslationTurnKey::fromUuid(turn(1).id));
    QCOMPARE(m_fixture->relay->allV2Received(QStringLiteral("translate_preview")).first().value("turnId").toString(),
             TranslationTurnKey::fromUuid(turn(2).id));

    // The relay's answers land in the turns.
    QVERIFY(FakeBackend::waitUntil([&] { return !turn(1).translationText.isEmpty(); }));
}

void tst_LiveTranslationRouter::backfillStopsWhenTheSessionStopsHolding()
{
    closeTurn(QStringLiteral("Eins."));
    closeTurn(QStringLiteral("Zwei."));
    closeTurn(QStringLiteral("Drei."));
    // The guard holds at the start, after the session opened and before the first send only.
    m_guardChecksLeft = 3;
    prepare();
    QTest::qWait(100);
    const QList<QJsonObject> finals = m_fixture->relay->allV2Received(QStringLiteral("translate_final"));
    QCOMPARE(finals.size(), 1);
    QCOMPARE(finals.first().value("turnId").toString(), TranslationTurnKey::fromUuid(turn(0).id));
}

void tst_LiveTranslationRouter::disabledTranslationOpensNothing()
{
    m_settings.isTranslationEnabled = false;
    m_message = QStringLiteral("old");
    closeTurn(QStringLiteral("Hallo."));
    prepare();
    QVERIFY(!m_router->isTranslationAvailable());
    QCOMPARE(m_message, std::nullopt);
    QTest::qWait(50);
    QCOMPARE(m_fixture->relay->v2ConnectionCount(), 0);
}

void tst_LiveTranslationRouter::preparationThatLosesItsSessionClosesWhatItOpened()
{
    // The session ends while the client is being started.
    m_guardChecksLeft = 1;
    prepare();
    QVERIFY(!m_router->isTranslationAvailable());
    QVERIFY(!m_fixture->service->isReconnecting());
    QVERIFY(!m_fixture->service->isReady());
    QTest::qWait(50);
    QVERIFY(m_fixture->relay->v2ConnectionCount() == 0 || !m_fixture->relay->v2Session()->isConnected());
}

void tst_LiveTranslationRouter::historyLeavesOutBlankPairs()
{
    const int a = closeTurn(QStringLiteral("  Eins. "));
    m_turns->setTranslationText(a, QStringLiteral(" One. "));
    closeTurn(QStringLiteral("Zwei."));
    const int c = closeTurn(QStringLiteral("Drei."));
    m_turns->setTranslationText(c, QStringLiteral("   "));
    openTurn(QStringLiteral("Vier"));
    m_turns->setTranslationText(3, QStringLiteral("Four"));
    QCOMPARE(m_router->translationHistoryTurns(),
             (QList<DeepSeekTranslationHistoryTurn>{{"Eins.", "One."}, {"Vier", "Four"}}));

    // Only the newest pairs the clients keep, oldest first; blank pairs do not take a place.
    m_turns->finalizeCurrentTurnIfNeeded();
    for (const QString &word : {QStringLiteral("Fünf"), QStringLiteral("Sechs"), QStringLiteral("Sieben")}) {
        const int index = closeTurn(word);
        m_turns->setTranslationText(index, word + QStringLiteral("!"));
    }
    closeTurn(QStringLiteral("Acht."));
    QCOMPARE(m_router->translationHistoryTurns(),
             (QList<DeepSeekTranslationHistoryTurn>{
                 {"Vier", "Four"}, {"Fünf", "Fünf!"}, {"Sechs", "Sechs!"}, {"Sieben", "Sieben!"}}));
}

QTEST_GUILESS_MAIN(tst_LiveTranslationRouter)
#include "tst_LiveTranslationRouter.moc"

// The shell's windows over the real session view model: values and changes come through, and
// the commands reach it.

#include "localization/KavrelLocalizationStore.h"
#include "app/SubtitleViewModelSurface.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelMiniTranscriptPanel.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "session/ListeningSession.h"
#include "session/ListeningStartPrompts.h"
#include "session/SessionTestFakes.h"

#include <QSignalSpy>
#include <QTest>

using namespace SessionTest;

namespace {

// Answers the start questions: a new session, no microphone.
class NewSessionPrompts final : public ListeningStartPrompts
{
public:
    QCoro::Task<ListeningSessionStartMode> askStartMode() override { co_return ListeningSessionStartMode::newSession; }
    QCoro::Task<bool> askMicrophone() override { co_return false; }
};

} // namespace

class tst_SubtitleViewModelSurface : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsTheViewModel();
    void levelChangesDoNotReachTheSurface();
};

void tst_SubtitleViewModelSurface::followsTheViewModel()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    Engine engine;
    SubtitleViewModel &model = *engine.model;
    NewSessionPrompts prompts;
    model.setStartPrompts(&prompts);
    SubtitleViewModelSurface surface(model);
    QSignalSpy changes(&surface, &KavrelSessionSurface::changed);
    QSignalSpy activity(&surface, &KavrelSessionSurface::hasActiveSessionChanged);

    QVERIFY(surface.isTranslationEnabled());
    model.setTranslationEnabled(false);
    QVERIFY(!surface.isTranslationEnabled());
    QVERIFY(changes.count() >= 1);
    QCOMPARE(surface.translationPlaceholderText(), model.translationPlaceholderText());

    surface.setErrorMessage(QStringLiteral("Your login expired. Sign in again to continue."));
    QCOMPARE(model.errorMessage(), std::optional<QString>(QStringLiteral("Your login expired. Sign in again to continue.")));

    // A start through the surface runs the view model's own start; the mini window follows it.
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    KavrelMiniWindowCoordinator windows([] { return std::optional<X11WindowListSnapshot>(); });
    KavrelPresentationStore presentation(windows, [] { return true; });
    KavrelListeningMiniView view(surface, presentation, defaults, [] {});
    surface.promptAndStartListening(false);
    QVERIFY(engine.settle([&] { return surface.hasActiveSession() && !surface.isBusy(); }));
    QVERIFY(activity.count() >= 1);
    QCOMPARE(view.statusTitle(), QStringLiteral("Listening"));
    QVERIFY(view.translationPanel()->isHidden());
    surface.stopActiveSession();
    QVERIFY(engine.settle([&] { return !surface.hasActiveSession() && !surface.isBusy(); }));
    QCOMPARE(surface.status(), SubtitleStatus::stopped);
    QCOMPARE(view.statusTitle(), QStringLiteral("Listening stopped"));
}

// The microphone level changes many times a second; it is not a value of the surface, so the
// windows that follow the surface are not woken by it.
void tst_SubtitleViewModelSurface::levelChangesDoNotReachTheSurface()
{
    Engine engine;
    SubtitleViewModelSurface surface(*engine.model);
    QSignalSpy changes(&surface, &KavrelSessionSurface::changed);
    Q_EMIT engine.model->microphoneLevelChanged();
    QCOMPARE(changes.count(), 0);
    Q_EMIT engine.model->liveSubtitlePreviewChanged();
    QCOMPARE(changes.count(), 1);
    QCOMPARE(surface.publishedTranscript(), engine.model->publishedTranscript());
}

QTEST_MAIN(tst_SubtitleViewModelSurface)
#include "tst_SubtitleViewModelSurface.moc"

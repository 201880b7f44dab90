#include "app/widgets/KavrelListeningMiniView.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "app/KavrelMiniListeningTexts.h"
#include "kit/KavrelPalette.h"
#include "session/KavrelSessionSurface.h"
#include "session/PublishedTranscript.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "app/widgets/KavrelMiniMicrophoneControl.h"
#include "app/widgets/KavrelMiniTranscriptPanel.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "kit/widgets/KavrelSplitContainer.h"
#include "base/KavrelDiagnostics.h"
#include "platform/UserDefaults.h"

#include <QEvent>
#include <QHideEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

constexpr KavrelDynamicColor sessionRed = kavrelFixed({0.92, 0.05, 0.08, 1});
constexpr int dotSize = 8;

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

QFont fontOf(const QWidget *widget, int pixelSize, QFont::Weight weight)
{
    QFont font = widget->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

KavrelSplitContainer::Style miniSplitStyle()
{
    KavrelSplitContainer::Style style;
    style.minimumPane = 90;
    style.dividerExtent = 8;
    style.dividerCrossLength = 24;
    style.spacing = 0;
    style.lowestFraction = 0.2;
    style.highestFraction = 0.8;
    style.divider.handleLength = 24;
    style.divider.handleThickness = 3;
    style.divider.handleRadius = 2;
    style.divider.handleOpacity = 0.2;
    style.divider.showsArrows = true;
    return style;
}

} // namespace

KavrelListeningMiniView::KavrelListeningMiniView(KavrelSessionSurface &session, KavrelPresentationStore &presentation,
                                                 UserDefaults &defaults, std::function<void()> openMainWindow,
                                                 QWidget *parent)
    : QWidget(parent), m_session(session), m_presentation(&presentation), m_defaults(defaults),
      m_openMainWindow(std::move(openMainWindow))
{
    // Header: status and microphone, then the controls.
    m_status = new QLabel;
    m_status->setFont(fontOf(this, 15, QFont::Bold));
    m_status->setIndent(dotSize + 7);
    m_microphoneName = new QLabel;
    m_microphoneName->setFont(fontOf(this, 11, QFont::Medium));
    m_microphoneName->setTextFormat(Qt::PlainText);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    titles->addWidget(m_status);
    titles->addWidget(m_microphoneName);

    m_layoutPicker = new KavrelSegmentedPicker({{QStringLiteral("columns"), QStringLiteral("rectangle.split.2x1")},
                                                {QStringLiteral("rows"), QStringLiteral("rectangle.split.1x2")}});
    m_layoutPicker->setFixedSize(68, 26);
    connect(m_layoutPicker, &KavrelSegmentedPicker::picked, this,
            [this](const QString &value) { m_defaults.setString(QString::fromLatin1(layoutKey), value); });

    m_microphone = new KavrelMiniMicrophoneControl(session);
    m_stop = new KavrelCapsuleButton;
    m_stop->setSymbol(QStringLiteral("stop.fill"));
    m_stop->setFixedContentSize(QSize(36, 32));
    connect(m_stop, &QAbstractButton::clicked, this, [this] { m_session.stopActiveSession(); });

    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addLayout(titles);
    header->addStretch(1);
    header->addWidget(m_layoutPicker);
    header->addWidget(m_microphone);
    header->addWidget(m_stop);

    // Panels.
    m_transcript = new KavrelMiniTranscriptPanel(session.publishedTranscript(), PublishedTranscript::Column::transcript);
    m_translation = new KavrelMiniTranscriptPanel(session.publishedTranscript(), PublishedTranscript::Column::translation);
    m_split = new KavrelSplitContainer;
    m_split->setStyle(miniSplitStyle());
    m_split->setPanels(m_transcript, m_translation);
    connect(m_split, &KavrelSplitContainer::fractionDragged, this,
            [this](double fraction) { m_defaults.setDouble(QString::fromLatin1(splitKey), fraction); });

    // Footer.
    m_expand = new KavrelCapsuleButton;
    connect(m_expand, &QAbstractButton::clicked, this, &KavrelListeningMiniView::expand);
    m_hideCompletely = new KavrelCapsuleButton;
    m_hideCompletely->setSymbol(QStringLiteral("eye.slash"));
    for (KavrelCapsuleButton *button : {m_expand, m_hideCompletely}) {
        KavrelCapsuleButton::Look look;
        look.symbolSize = 14;
        button->setLook(look);
        button->setFont(fontOf(this, 13, QFont::Medium));
    }
    connect(m_hideCompletely, &QAbstractButton::clicked, this, [this] {
        if (m_presentation)
            m_presentation->enterBackgroundOnlyMode();
    });
    auto *footer = new QHBoxLayout;
    footer->setSpacing(10);
    footer->addWidget(m_expand);
    footer->addWidget(m_hideCompletely);
    footer->addStretch(1);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(14);
    column->addLayout(header);
    column->addWidget(m_split, 1);
    column->addLayout(footer);

    // The keyboard reads the window as a reader does: the header left to right, then the footer.
    const QList<QWidget *> readingOrder{m_layoutPicker, m_microphone->menuButton(), m_microphone->toggleButton(),
                                        m_stop, m_expand, m_hideCompletely};
    for (qsizetype i = 1; i < readingOrder.size(); ++i)
        setTabOrder(readingOrder[i - 1], readingOrder[i]);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &KavrelListeningMiniView::expand);

    connect(&m_session, &KavrelSessionSurface::changed, this, &KavrelListeningMiniView::refresh);
    connect(&presentation, &KavrelPresentationStore::isBackgroundOnlyChanged, this, &KavrelListeningMiniView::refresh);
    connect(&m_defaults, &UserDefaults::valueChanged, this, [this](const QString &key) {
        if (key == QLatin1String(layoutKey) || key == QLatin1String(splitKey))
            applyLayoutSetting();
    });
    connect(&KavrelLocalizationStore::shared(), &KavrelLocalizationStore::languageChanged, this, &KavrelListeningMiniView::refresh);
    applyLayoutSetting();
    applySecondaryColour();
    refresh();
}

void KavrelListeningMiniView::expand()
{
    if (m_presentation)
        m_presentation->restoreApplication(m_openMainWindow);
}

void KavrelListeningMiniView::applySecondaryColour()
{
    QPalette secondary = m_microphoneName->palette();
    secondary.setColor(QPalette::WindowText, KavrelSystemColors::secondaryLabel.resolve(palette()));
    m_microphoneName->setPalette(secondary);
}

QString KavrelListeningMiniView::statusTitle() const
{
    return localized(KavrelMiniListeningTexts::statusTitleKey(m_session.isBusy(), m_session.hasActiveSession(), m_session.status()));
}

void KavrelListeningMiniView::refresh()
{
    m_status->setText(statusTitle());
    m_microphoneName->setText(m_session.selectedMicrophoneName());
    m_microphone->refresh();
    KavrelFocusHold::setAvailable(m_stop,
                                  m_session.hasActiveSession() && !m_session.isBusy() && !m_session.isMicrophoneBusy());
    m_stop->setToolTip(localized(QStringLiteral("Stop Listening")));
    m_stop->setAccessibleName(localized(QStringLiteral("Stop Listening")));
    m_layoutPicker->setToolTip(localized(QStringLiteral("Switch transcript layout")));
    m_layoutPicker->setAccessibleName(m_layoutPicker->toolTip());
    m_layoutPicker->setSegmentNames({localized(QStringLiteral("Side by side")), localized(QStringLiteral("One above the other"))});
    m_split->setDividerAccessibleName(localized(QStringLiteral("Resize transcript panels")));

    // The panels follow the rows themselves; what is read here is small.
    m_transcript->setContent(localized(QStringLiteral("Live transcript")), m_session.liveSubtitlePreview(),
                             localized(QStringLiteral("Waiting for speech...")), QStringLiteral("waveform"));
    m_translation->setContent(m_session.translationPanelTitle(), m_session.liveTranslationPreview(),
                              m_session.translationPlaceholderText(), QStringLiteral("character.bubble"));
    m_translation->setVisible(m_session.isTranslationEnabled());

    m_expand->setText(localized(QStringLiteral("Expand КАВРЕЛ")));
    m_hideCompletely->setText(localized(QStringLiteral("Hide completely")));
    m_hideCompletely->setToolTip(localized(QStringLiteral("Keep listening with all КАВРЕЛ windows hidden.")));
    // Hiding everything needs the tray item to come back by.
    KavrelFocusHold::setAvailable(m_hideCompletely, m_presentation && m_presentation->canEnterBackgroundOnlyMode());
    update();
}

void KavrelListeningMiniView::applyLayoutSetting()
{
    const QString layout = m_defaults.stringValue(QString::fromLatin1(layoutKey), QStringLiteral("columns"));
    // Only "rows" stacks the panels; any other text lays them out as columns, with no segment selected.
    m_layoutPicker->setValue(layout);
    m_split->setOrientation(layout == QLatin1String("rows") ? Qt::Vertical : Qt::Horizontal);
    m_split->setFraction(m_defaults.doubleValue(QString::fromLatin1(splitKey), 0.5));
}

void KavrelListeningMiniView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange) {
        applySecondaryColour();
        refresh();
    }
    QWidget::changeEvent(event);
}

void KavrelListeningMiniView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    const QString generation = m_presentation ? m_presentation->miniWindowGeneration().toString(QUuid::WithoutBraces) : QString();
    qCInfo(KavrelDiagnostics::app()).noquote()
        << QStringLiteral("mini window appeared generation=%1 transcriptChars=%2 translationChars=%3 transcriptDraftChars=%4 translationDraftChars=%5")
               .arg(generation)
               .arg(m_session.subtitlesText().size())
               .arg(m_session.translatedText().size())
               .arg(m_session.liveSubtitlePreview().size())
               .arg(m_session.liveTranslationPreview().size());
}

void KavrelListeningMiniView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Keys the X server sent to the window before it went still reach it, pressed together with
    // the one that sent it away ("Развернуть" or Escape, and Space at once): they go to its
    // focused control, hidden or not, and would stop the meeting or switch the microphone.
    if (event->spontaneous())
        return;
    if (QWidget *focused = window()->focusWidget(); focused && isAncestorOf(focused))
        focused->clearFocus();
}

void KavrelListeningMiniView::paintEvent(QPaintEvent *)
{
    // The status dot before the status title.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect status = m_status->geometry();
    const QRectF dot(status.left(), status.center().y() - dotSize / 2.0 + 0.5, dotSize, dotSize);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_session.hasActiveSession() ? sessionRed.resolve(palette()) : KavrelSystemColors::secondaryLabel.resolve(palette()));
    painter.drawEllipse(dot);
}

#include "workspace/widgets/ListeningSetupSheet.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "kit/widgets/KavrelSwitch.h"
#include "kit/widgets/KavrelSymbols.h"
#include "session/SubtitleViewModel.h"
#include "workspace/widgets/ListeningSetupCard.h"
#include "workspace/widgets/WorkspaceSymbols.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr KavrelDynamicColor backgroundFrom = kavrelDynamic({0.98, 0.97, 0.95, 1}, {0.11, 0.12, 0.14, 1});
constexpr KavrelDynamicColor backgroundTo = kavrelDynamic({0.94, 0.97, 1.00, 1}, {0.09, 0.13, 0.18, 1});

// The round red Start button with its record symbol and title.
class StartButton final : public QPushButton
{
public:
    using QPushButton::QPushButton;
    // Room around the circle for its shadow.
    static constexpr int shadowRoom = 28;
    QSize sizeHint() const override
    {
        return QSize(ListeningSetupSheet::actionButtonSize + 2 * shadowRoom, ListeningSetupSheet::actionButtonSize + shadowRoom + 8);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!KavrelFocusHold::looksAvailable(this))
            painter.setOpacity(0.5);
        const double side = ListeningSetupSheet::actionButtonSize;
        const QRectF circle((width() - side) / 2, 8, side, side);
        QPainterPath shape;
        shape.addEllipse(circle);
        KavrelPainting::drawSoftShadow(painter, shape, QColor::fromRgbF(1, 0, 0, 0.22), 14, QPointF(0, 8));
        KavrelPainting::fillGradient(painter, shape, QColor::fromRgbF(0.93, 0.18, 0.16), QColor::fromRgbF(0.70, 0.08, 0.12));
        if (isDown())
            painter.fillPath(shape, QColor(0, 0, 0, 30));
        QPainterPath ring;
        ring.addEllipse(circle.adjusted(2.5, 2.5, -2.5, -2.5));
        KavrelFocusRing::paint(painter, this, ring, QColor::fromRgbF(0.82, 0.13, 0.14));
        WorkspaceSymbols::paint(painter, QRectF(circle.center().x() - 20, circle.top() + 24, 40, 40),
                                QStringLiteral("record.circle.fill"), Qt::white);
        QFont font = this->font();
        font.setPixelSize(15);
        font.setWeight(QFont::DemiBold);
        QRectF textRect(circle.left() + 10, circle.top() + 70, side - 20, 22);
        painter.setPen(Qt::white);
        // The title shrinks to fit one line; a longer one takes a second line rather than being
        // cut, and a word too long for the circle shrinks it further.
        for (int pixels = 15; pixels >= 11; --pixels) {
            font.setPixelSize(pixels);
            if (QFontMetricsF(font).horizontalAdvance(text()) <= textRect.width()) {
                painter.setFont(font);
                painter.drawText(textRect, Qt::AlignCenter, text());
                return;
            }
        }
        textRect = QRectF(circle.left() + 14, circle.top() + 66, side - 28, 34);
        QString shown;
        for (int pixels = 12; pixels >= 10 && shown.isEmpty(); --pixels) {
            font.setPixelSize(pixels);
            const QRectF needed = QFontMetricsF(font).boundingRect(textRect, Qt::TextWordWrap, text());
            if (needed.width() <= textRect.width() + 0.5 && needed.height() <= textRect.height())
                shown = text();
        }
        if (shown.isEmpty())
            shown = QFontMetricsF(font).elidedText(text(), Qt::ElideRight, textRect.width());
        painter.setFont(font);
        painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, shown);
    }
};

QPixmap headerBadge(qreal ratio)
{
    QPixmap pixmap(QSize(54, 54) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath circle;
    circle.addEllipse(QRectF(0, 0, 54, 54));
    KavrelPainting::fillGradient(painter, circle, QColor::fromRgbF(0.92, 0.24, 0.18), QColor::fromRgbF(0.73, 0.11, 0.10));
    WorkspaceSymbols::paint(painter, QRectF(16, 16, 22, 22), QStringLiteral("captions.bubble.fill"), Qt::white);
    return pixmap;
}

// A control that is off for now is also drawn faint, so its card reads as not in use.
void setEnabledAndDimmed(QWidget *widget, bool enabled)
{
    widget->setEnabled(enabled);
    // The effect goes away when the control is in use: an opacity effect at full opacity
    // still redirects the painting, and a widget rendered off screen then comes out blank.
    if (enabled) {
        widget->setGraphicsEffect(nullptr);
        return;
    }
    auto *effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(0.45);
    widget->setGraphicsEffect(effect);
}

// The face of the sheet's menu pickers: a rounded field in the kit's look, with the current
// choice and the pop-up chevron, in place of the desktop style's square box.
void paintPickerFace(QWidget *picker, const QString &text, const QIcon &icon)
{
    QPainter painter(picker);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &colours = picker->palette();
    const QRectF area = QRectF(picker->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor fill = KavrelSystemColors::secondaryLabel.resolve(colours, 0.1);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::continuousRoundedRect(area, 9), fill,
                                  KavrelSystemColors::secondaryLabel.resolve(colours, 0.18));
    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, picker,
                           KavrelPainting::continuousRoundedRect(QRectF(picker->rect()).adjusted(ring, ring, -ring, -ring), 9 - ring),
                           fill);
    double x = 11;
    if (!icon.isNull()) {
        icon.paint(&painter, QRect(int(x), (picker->height() - 14) / 2, 14, 14));
        x += 20;
    }
    const double chevron = 12;
    KavrelSymbols::paint(painter, QRectF(picker->width() - 10 - chevron, (picker->height() - chevron) / 2, chevron, chevron),
                         QStringLiteral("chevron.up.chevron.down"), KavrelSystemColors::secondaryLabel.resolve(colours));
    const QRectF textArea(x, 0, picker->width() - x - 16 - chevron, picker->height());
    painter.setPen(KavrelSystemColors::label.resolve(colours));
    painter.setFont(picker->font());
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter,
                     picker->fontMetrics().elidedText(text, Qt::ElideRight, int(textArea.width())));
}

class LanguagePicker final : public QComboBox
{
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent *) override { paintPickerFace(this, currentText(), QIcon()); }
};

class DevicePicker final : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent *) override { paintPickerFace(this, text(), icon()); }
};

QComboBox *languagePicker(QWidget *parent)
{
    auto *picker = new LanguagePicker(parent);
    picker->setFixedSize(140, 28);
    picker->setCursor(Qt::PointingHandCursor);
    return picker;
}

// The setup cards' switch: green when on, a faint stroke round the track, the knob jumps.
KavrelSwitch *setupSwitch(QWidget *parent)
{
    KavrelSwitch::Look look;
    look.trackInsetX = 1;
    look.onTrack = kavrelFixed({0.20, 0.74, 0.40, 1});
    look.trackStroke = kavrelFixed({0, 0, 0, 0.06});
    look.knobShadow = QColor::fromRgbF(0, 0, 0, 0.2);
    look.disabledOpacity = 0.45;
    return new KavrelSwitch(look, parent);
}

} // namespace

ListeningSetupSheet::ListeningSetupSheet(SubtitleViewModel &viewModel, QWidget *parent)
    : QDialog(parent), m_viewModel(viewModel), m_texts(viewModel.localization()), m_title(new QLabel(this)),
      m_subtitle(new QLabel(this)),
      m_languageCard(new ListeningSetupCard(QStringLiteral("ear.fill"), QColor::fromRgbF(0.16, 0.42, 0.87), this)),
      m_microphoneCard(new ListeningSetupCard(QStringLiteral("mic.fill"), QColor::fromRgbF(0.79, 0.23, 0.28), this)),
      m_recordingCard(new ListeningSetupCard(QStringLiteral("waveform"), QColor::fromRgbF(0.10, 0.59, 0.46), this)),
      m_translationCard(new ListeningSetupCard(QStringLiteral("globe"), QColor::fromRgbF(0.86, 0.48, 0.14), this)),
      m_source(languagePicker(this)), m_microphone(setupSwitch(this)), m_devices(new DevicePicker(this)),
      m_recording(setupSwitch(this)), m_translation(setupSwitch(this)), m_target(languagePicker(this)),
      m_cancel(new KavrelCapsuleButton(this)), m_start(new StartButton(this))
{
    setModal(true);
    setFixedWidth(sheetWidth);
    // 700 high at the least, where the screen has that much room; on a smaller one the cards
    // scroll and Cancel and Start stay in sight below them.
    KavrelScreenFit::setMinimumSize(this, QSize(sheetWidth, 700));
    KavrelScreenFit::keepOnScreen(this);
    setMaximumHeight(760);
    resize(sheetWidth, 732);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    // Tab goes to the controls it holds (and scrolls them into sight), never to the area
    // itself, which has no name and nothing to press.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->viewport()->setAutoFillBackground(false);
    auto *content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(24, 24, 24, 16);
    column->setSpacing(18);

    auto *header = new QHBoxLayout;
    header->setSpacing(16);
    auto *badge = new QLabel(content);
    badge->setPixmap(headerBadge(2));
    badge->setFixedSize(54, 54);
    header->addWidget(badge, 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(6);
    m_title->setTextFormat(Qt::PlainText);
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(20);
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    m_subtitle->setTextFormat(Qt::PlainText);
    m_subtitle->setWordWrap(true);
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles, 1);
    column->addLayout(header);

    auto *cards = new QVBoxLayout;
    cards->setSpacing(12);
    for (ListeningSetupCard *card : {m_languageCard, m_microphoneCard, m_recordingCard, m_translationCard})
        cards->addWidget(card);
    column->addLayout(cards);
    column->addStretch(1);
    scroll->setWidget(content);
    // setWidget() turns the background on; the sheet's gradient should show through.
    content->setAutoFillBackground(false);
    root->addWidget(scroll, 1);

    m_languageCard->controls()->addWidget(m_source, 0, Qt::AlignRight);
    m_microphoneCard->controls()->addWidget(m_microphone, 0, Qt::AlignRight);
    m_devices->setPopupMode(QToolButton::InstantPopup);
    m_devices->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_devices->setFixedSize(190, 28);
    m_devices->setCursor(Qt::PointingHandCursor);
    m_devices->setMenu(new QMenu(m_devices));
    m_microphoneCard->controls()->addWidget(m_devices, 0, Qt::AlignRight);
    m_recordingCard->controls()->addWidget(m_recording, 0, Qt::AlignRight);
    m_translationCard->controls()->addWidget(m_translation, 0, Qt::AlignRight);
    m_translationCard->controls()->addWidget(m_target, 0, Qt::AlignRight);

    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(24, 8, 24 - StartButton::shadowRoom, 24 - StartButton::shadowRoom + 8);
    // The Start button's shadow room makes the footer's own bottom margin small; Cancel
    // keeps its distance from the edge.
    auto *cancelColumn = new QVBoxLayout;
    cancelColumn->setContentsMargins(0, 0, 0, StartButton::shadowRoom - 8);
    cancelColumn->addStretch(1);
    QFont cancelFont = m_cancel->font();
    cancelFont.setPixelSize(13);
    cancelFont.setWeight(QFont::Medium);
    m_cancel->setFont(cancelFont);
    cancelColumn->addWidget(m_cancel);
    footer->addLayout(cancelColumn);
    footer->addStretch(1);
    footer->addSpacing(24);
    footer->addWidget(m_start, 0, Qt::AlignBottom);
    root->addLayout(footer);

    // Return presses Start (when it is enabled); Escape rejects the dialog.
    m_start->setDefault(true);
    m_start->setAutoDefault(true);
    m_start->setCursor(Qt::PointingHandCursor);
    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_start, &QPushButton::clicked, this, &ListeningSetupSheet::startRequested);

    // Only the user's own choices write the view model, so the view model's follow-up
    // changes (the target moving away from the source) never come back as a new choice.
    connect(m_source, &QComboBox::activated, this, [this](int index) {
        m_viewModel.setSelectedSourceLanguage(SourceLanguageOptions::allCases[size_t(index)]);
    });
    connect(m_target, &QComboBox::activated, this, [this](int index) {
        const QList<TranslationLanguageOption> languages = m_viewModel.availableTranslationLanguages();
        if (index >= 0 && index < languages.size())
            m_viewModel.setSelectedTranslationLanguage(languages[index]);
    });
    connect(m_microphone, &QAbstractButton::clicked, this, [this](bool on) { m_viewModel.setStartsWithMicrophoneEnabled(on); });
    connect(m_recording, &QAbstractButton::clicked, this, [this](bool on) { m_viewModel.setAudioRecordingEnabled(on); });
    connect(m_translation, &QAbstractButton::clicked, this, [this](bool on) { m_viewModel.setTranslationEnabled(on); });

    for (auto signal : {&SubtitleViewModel::selectedSourceLanguageChanged, &SubtitleViewModel::selectedTranslationLanguageChanged,
                        &SubtitleViewModel::isTranslationEnabledChanged, &SubtitleViewModel::isAudioRecordingEnabledChanged,
                        &SubtitleViewModel::startsWithMicrophoneEnabledChanged, &SubtitleViewModel::availableMicrophonesChanged,
                        &SubtitleViewModel::selectedMicrophoneIDChanged, &SubtitleViewModel::selectedMicrophoneNameChanged,
                        &SubtitleViewModel::isBusyChanged}) {
        connect(&viewModel, signal, this, &ListeningSetupSheet::refresh);
    }
    connect(&m_texts, &KavrelLocalizationStore::languageChanged, this, &ListeningSetupSheet::refreshTexts);
    refreshTexts();
}

void ListeningSetupSheet::refreshTexts()
{
    setWindowTitle(m_texts.localized(QStringLiteral("Start a Listening Session")));
    m_title->setText(m_texts.localized(QStringLiteral("Start a Listening Session")));
    m_subtitle->setText(m_texts.localized(QStringLiteral(
        "Choose the input language, decide whether to mix in your microphone, save the session as M4A, and turn translation on only when you need it.")));
    m_languageCard->setTexts(m_texts.localized(QStringLiteral("Listening language")),
                             m_texts.localized(QStringLiteral("КАВРЕЛ will transcribe the session using this source language.")));
    m_microphoneCard->setTexts(m_texts.localized(QStringLiteral("Microphone mix-in")),
                               m_texts.localized(QStringLiteral("Add your own voice through the selected input device.")));
    m_recordingCard->setTexts(m_texts.localized(QStringLiteral("Save full M4A recording")),
                              m_texts.localized(QStringLiteral("Store the entire captured session locally when you stop listening.")));
    m_translationCard->setTexts(m_texts.localized(QStringLiteral("Live translation")),
                                m_texts.localized(QStringLiteral(
                                    "КАВРЕЛ will translate only final transcript chunks into the selected target language.")));
    m_cancel->setText(m_texts.localized(QStringLiteral("Cancel")));
    m_start->setText(m_texts.localized(QStringLiteral("Start Listening")));
    m_start->setAccessibleName(m_start->text());
    m_microphone->setAccessibleName(m_texts.localized(QStringLiteral("Microphone mix-in")));
    m_recording->setAccessibleName(m_texts.localized(QStringLiteral("Save full M4A recording")));
    m_translation->setAccessibleName(m_texts.localized(QStringLiteral("Live translation")));
    m_source->setAccessibleName(m_texts.localized(QStringLiteral("Listening language")));
    // The open list of languages answers to its picker's name.
    m_source->view()->setAccessibleName(m_source->accessibleName());
    refresh();
}

void ListeningSetupSheet::refresh()
{
    const QSignalBlocker sourceBlocker(m_source);
    const QSignalBlocker targetBlocker(m_target);
    m_source->clear();
    for (SourceLanguageOption option : SourceLanguageOptions::allCases)
        m_source->addItem(m_texts.localizedLanguageName(SourceLanguageOptions::interfaceLanguage(option)));
    m_source->setCurrentIndex(int(std::find(SourceLanguageOptions::allCases.begin(), SourceLanguageOptions::allCases.end(),
                                            m_viewModel.selectedSourceLanguage())
                                  - SourceLanguageOptions::allCases.begin()));
    m_target->clear();
    const QList<TranslationLanguageOption> targets = m_viewModel.availableTranslationLanguages();
    for (TranslationLanguageOption option : targets)
        m_target->addItem(m_texts.localizedLanguageName(TranslationLanguageOptions::interfaceLanguage(option)));
    m_target->setCurrentIndex(int(targets.indexOf(m_viewModel.selectedTranslationLanguage())));

    m_microphone->setChecked(m_viewModel.startsWithMicrophoneEnabled());
    m_recording->setChecked(m_viewModel.isAudioRecordingEnabled());
    m_translation->setChecked(m_viewModel.isTranslationEnabled());
    setEnabledAndDimmed(m_devices, m_viewModel.startsWithMicrophoneEnabled());
    setEnabledAndDimmed(m_target, m_viewModel.isTranslationEnabled());
    KavrelFocusHold::setAvailable(m_start, !m_viewModel.isBusy());
    rebuildDeviceMenu();
}

void ListeningSetupSheet::rebuildDeviceMenu()
{
    const QColor iconColour = KavrelSystemColors::label.resolve(palette());
    m_devices->setIcon(KavrelSymbols::icon(QStringLiteral("mic.fill"), iconColour));
    const QString name = m_viewModel.selectedMicrophoneName();
    m_devices->setText(m_devices->fontMetrics().elidedText(name, Qt::ElideRight, 190 - 48));
    m_devices->setToolTip(name);
    QMenu *menu = m_devices->menu();
    menu->clear();
    QAction *refresh = menu->addAction(m_texts.localized(QStringLiteral("Refresh microphones")));
    connect(refresh, &QAction::triggered, &m_viewModel, &SubtitleViewModel::refreshAvailableMicrophones);
    menu->addSeparator();
    const QList<MicrophoneInputDevice> devices = m_viewModel.availableMicrophones();
    if (devices.isEmpty()) {
        menu->addAction(m_texts.localized(QStringLiteral("No microphone devices available")))->setEnabled(false);
        return;
    }
    for (const MicrophoneInputDevice &device : devices) {
        const bool selected = device.id == m_viewModel.selectedMicrophoneID();
        QAction *action = menu->addAction(
            KavrelSymbols::icon(selected ? QStringLiteral("checkmark") : QStringLiteral("mic"), iconColour), device.name);
        action->setCheckable(false);
        const QString id = device.id;
        connect(action, &QAction::triggered, &m_viewModel, [this, id] { m_viewModel.selectMicrophone(id); });
    }
}

void ListeningSetupSheet::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPainterPath all;
    all.addRect(QRectF(rect()));
    KavrelPainting::fillGradient(painter, all, backgroundFrom.resolve(palette()), backgroundTo.resolve(palette()));
}

#include "detection/widgets/KavrelMeetingEndedPanelView.h"

#include "localization/KavrelLocalizationStore.h"
#include "detection/widgets/KavrelMeetingPanelAccentBar.h"
#include "detection/widgets/KavrelMeetingPanelParts.h"
#include "detection/widgets/KavrelMeetingPanelTextColumn.h"

#include <QBoxLayout>

namespace {

constexpr KavrelDynamicColor stopRed = kavrelFixed({0.84, 0.16, 0.17, 1});

QFont fontOf(const QWidget *widget, int pixelSize, QFont::Weight weight)
{
    QFont font = widget->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace

KavrelMeetingEndedPanelView::KavrelMeetingEndedPanelView(const DetectedMeeting &meeting,
                                                         std::function<void()> finishRecording,
                                                         std::function<void()> keepRecording, QWidget *parent)
    : QWidget(parent)
{
    const KavrelLocalizationStore &texts = KavrelLocalizationStore::shared();
    QBoxLayout *row = KavrelMeetingPanelParts::makeRow(this);
    row->addWidget(KavrelMeetingPanelParts::makeCloseButton(this, keepRecording));
    row->addWidget(new KavrelMeetingPanelAccentBar(KavrelMeetingPanelParts::endedAccent, 62, this));

    auto *column = new KavrelMeetingPanelTextColumn(
        {
            {texts.localized(QStringLiteral("Meeting ended?")), 14, QFont::Bold, KavrelSystemColors::label, 1.0},
            {meeting.displayName(), 13, QFont::DemiBold, KavrelSystemColors::secondaryLabel, 1.0},
            // The smaller type sets this line apart; faded as well it would not read.
            {texts.localized(QStringLiteral("КАВРЕЛ is still listening.")), 11, QFont::Medium,
             KavrelSystemColors::secondaryLabel, 1.0},
        },
        this);
    column->setObjectName(QStringLiteral("texts"));
    row->addWidget(column, 1);

    KavrelCapsuleButton::Look keepLook = KavrelMeetingPanelParts::promptButtonLook(KavrelSystemColors::label);
    keepLook.fillOpacity = 0.08 / 0.85;
    keepLook.foreground = KavrelSystemColors::label;
    keepLook.horizontalPadding = 14;
    KavrelCapsuleButton *keep = KavrelMeetingPanelParts::makePromptButton(this, keepLook, QString(), std::move(keepRecording));
    keep->setObjectName(QStringLiteral("keepListeningButton"));
    keep->setText(texts.localized(QStringLiteral("Keep Listening")));
    keep->setFont(fontOf(keep, 13, QFont::DemiBold));
    row->addWidget(keep);

    KavrelCapsuleButton *stop = KavrelMeetingPanelParts::makePromptButton(
        this, KavrelMeetingPanelParts::promptButtonLook(stopRed), QStringLiteral("stop.fill"), std::move(finishRecording));
    stop->setObjectName(QStringLiteral("stopListeningButton"));
    stop->setText(texts.localized(QStringLiteral("Stop Listening")));
    stop->setFont(fontOf(stop, 14, QFont::Bold));
    row->addWidget(stop);
}

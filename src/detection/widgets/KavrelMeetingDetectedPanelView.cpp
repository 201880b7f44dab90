#include "detection/widgets/KavrelMeetingDetectedPanelView.h"

#include "localization/KavrelLocalizationStore.h"
#include "detection/widgets/KavrelMeetingPanelAccentBar.h"
#include "detection/widgets/KavrelMeetingPanelParts.h"
#include "detection/widgets/KavrelMeetingPanelTextColumn.h"

#include <QBoxLayout>

namespace {
// The start button's blue, top-leading to bottom-trailing.
constexpr KavrelDynamicColor startFrom = kavrelFixed({0.16, 0.38, 1.0, 1});
constexpr KavrelDynamicColor startTo = kavrelFixed({0.08, 0.22, 0.78, 1});
} // namespace

KavrelMeetingDetectedPanelView::KavrelMeetingDetectedPanelView(const DetectedMeeting &meeting,
                                                               std::function<void()> startListening,
                                                               std::function<void()> dismiss, QWidget *parent)
    : QWidget(parent)
{
    const KavrelLocalizationStore &texts = KavrelLocalizationStore::shared();
    QBoxLayout *row = KavrelMeetingPanelParts::makeRow(this);
    row->addWidget(KavrelMeetingPanelParts::makeCloseButton(this, std::move(dismiss)));
    row->addWidget(new KavrelMeetingPanelAccentBar(KavrelMeetingPanelParts::detectedAccent, 58, this));

    std::vector<KavrelMeetingPanelTextColumn::Line> lines{
        {texts.localized(QStringLiteral("Meeting detected")), 14, QFont::Bold, KavrelSystemColors::label, 1.0},
        {meeting.displayName(), 13, QFont::DemiBold, KavrelSystemColors::secondaryLabel, 1.0},
    };
    if (meeting.isAudioOutputActive) {
        // The smaller type sets this line apart; faded as well it would not read.
        lines.push_back({texts.localized(QStringLiteral("Meeting audio is active")), 11, QFont::Medium,
                         KavrelSystemColors::secondaryLabel, 1.0});
    }
    auto *column = new KavrelMeetingPanelTextColumn(std::move(lines), this);
    column->setObjectName(QStringLiteral("texts"));
    row->addWidget(column, 1);

    KavrelCapsuleButton::Look look = KavrelMeetingPanelParts::promptButtonLook(startFrom);
    look.fillEnd = startTo;
    look.symbolSize = 18;
    look.horizontalPadding = 18;
    look.height = 52;
    // The symbol is the program's mark.
    KavrelCapsuleButton *start = KavrelMeetingPanelParts::makePromptButton(this, look, QStringLiteral("waveform"),
                                                                          std::move(startListening));
    start->setObjectName(QStringLiteral("startListeningButton"));
    start->setText(texts.localized(QStringLiteral("Start Listening")));
    QFont buttonFont = start->font();
    buttonFont.setPixelSize(14);
    buttonFont.setWeight(QFont::Bold);
    start->setFont(buttonFont);
    row->addWidget(start);
}

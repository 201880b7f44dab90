#include "screens/widgets/KavrelBillingUsageCard.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/KavrelBillingDisplay.h"
#include "screens/widgets/KavrelScreenLabel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// The bar: a capsule track with the used share filled by a cyan-to-blue gradient.
class UsageBar final : public QWidget
{
public:
    explicit UsageBar(KavrelBillingUsage usage, QWidget *parent) : QWidget(parent), m_usage(usage)
    {
        setFixedHeight(10);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    qreal fillWidth() const { return KavrelBillingDisplay::usageBarFillWidth(m_usage, width()); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track(rect());
        painter.fillPath(KavrelPainting::capsule(track), KavrelProfileTheme::progressTrack.resolve(palette()));
        const qreal fill = fillWidth();
        if (fill <= 0)
            return;
        const QRectF filled(track.topLeft(), QSizeF(fill, track.height()));
        QLinearGradient gradient(filled.topLeft(), filled.topRight());
        gradient.setColorAt(0, QColor::fromRgbF(0.26f, 0.82f, 0.97f));
        gradient.setColorAt(1, QColor::fromRgbF(0.30f, 0.55f, 0.96f));
        painter.fillPath(KavrelPainting::capsule(filled), gradient);
    }

private:
    KavrelBillingUsage m_usage;
};

} // namespace

KavrelBillingUsageCard::KavrelBillingUsageCard(const KavrelBillingSummary &summary, QWidget *parent)
    : KavrelScreenPanel(Look{20}, parent), m_usage(summary.usage)
{
    const KavrelLocalizationStore &store = KavrelLocalizationStore::shared();
    const KavrelBillingUsage &usage = summary.usage;
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    auto *header = new QHBoxLayout;
    auto *title = new KavrelScreenLabel(store.localized(QStringLiteral("Usage this period")), 20, QFont::Bold,
                                        KavrelProfileTheme::primaryText, this);
    title->setWordWrap(true);
    header->addWidget(title, 1);
    header->addWidget(new KavrelScreenLabel(
        store.localizedFormat(QStringLiteral("%@ min / %@ min"),
                              QStringList{QString::number(usage.usedMinutes), QString::number(usage.includedMinutes)}),
        16, QFont::DemiBold, KavrelProfileTheme::primaryText, this));
    layout->addLayout(header);

    auto *sentence = new KavrelScreenLabel(KavrelBillingDisplay::usageDetailText(summary, store), 14, QFont::Medium,
                                           KavrelProfileTheme::secondaryText, this);
    sentence->setWordWrap(true);
    layout->addWidget(sentence);

    m_bar = new UsageBar(usage, this);
    layout->addWidget(m_bar);

    auto *footer = new QHBoxLayout;
    footer->setSpacing(14);
    footer->addWidget(new KavrelScreenLabel(
        store.localizedFormat(QStringLiteral("%@ min remaining"), QStringList{QString::number(usage.remainingMinutes)}), 13,
        QFont::Medium, KavrelProfileTheme::tertiaryText, this));
    auto *access = new KavrelScreenLabel(store.localized(usage.canUseTranscription ? QStringLiteral("Live transcription available")
                                                                                   : QStringLiteral("Live transcription unavailable")),
                                         13, QFont::Medium, KavrelProfileTheme::tertiaryText, this);
    access->setWordWrap(true);
    footer->addWidget(access, 1);
    layout->addLayout(footer);
}

qreal KavrelBillingUsageCard::barFillWidth() const
{
    return static_cast<const UsageBar *>(m_bar)->fillWidth();
}

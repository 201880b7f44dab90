#pragma once

#include "screens/widgets/KavrelScreenPanel.h"
#include "services/BillingMessages.h"

// The usage of the billing period: used and included minutes, the sentence about them, a bar
// and the remaining minutes with whether live transcription may be used.
class KavrelBillingUsageCard final : public KavrelScreenPanel
{
    Q_OBJECT

public:
    explicit KavrelBillingUsageCard(const KavrelBillingSummary &summary, QWidget *parent = nullptr);

    // The bar's fill width as last drawn, for tests.
    qreal barFillWidth() const;

private:
    QWidget *m_bar = nullptr;
    KavrelBillingUsage m_usage;
};

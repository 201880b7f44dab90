#include "signin/widgets/AuthenticationLoadingView.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelHiddenPause.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/ThemedLabel.h"

#include <QPainter>
#include <QVariantAnimation>
#include <QVBoxLayout>

namespace {

// A large indeterminate progress indicator.
class Spinner final : public QWidget
{
public:
    explicit Spinner(QWidget *parent) : QWidget(parent)
    {
        setFixedSize(36, 36);
        m_turn.setStartValue(0.0);
        m_turn.setEndValue(1.0);
        m_turn.setDuration(1000);
        m_turn.setLoopCount(-1);
        connect(&m_turn, &QVariantAnimation::valueChanged, this, [this] { update(); });
        KavrelHiddenPause::install(this, &m_turn);
        m_turn.start();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        KavrelPainting::drawSpinner(painter, QRectF(rect()).adjusted(3, 3, -3, -3),
                                    KavrelSystemColors::secondaryLabel.resolve(palette()), m_turn.currentValue().toReal());
    }

private:
    QVariantAnimation m_turn;
};

} // namespace

AuthenticationLoadingView::AuthenticationLoadingView(QWidget *parent)
    : QWidget(parent)
    , m_spinner(new Spinner(this))
{
    KavrelScreenFit::setMinimumSize(this, QSize(880, 620));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(18);
    layout->addStretch(1);
    layout->addWidget(m_spinner, 0, Qt::AlignHCenter);
    auto *title = new ThemedLabel(KavrelLocalizationStore::shared().localized(QStringLiteral("Restoring your session…")), 20,
                                  QFont::DemiBold, KavrelSystemColors::label, this);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

void AuthenticationLoadingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPainterPath whole;
    whole.addRect(rect());
    KavrelPainting::fillGradient(painter, whole, SignInTheme::loadingTop.resolve(palette()),
                                 SignInTheme::loadingBottom.resolve(palette()));
}

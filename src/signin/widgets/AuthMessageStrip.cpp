#include "signin/widgets/AuthMessageStrip.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/ThemedLabel.h"

#include <QHBoxLayout>
#include <QPainter>

namespace {

// The tinted circle with the exclamation mark.
class StripBadge final : public QWidget
{
public:
    StripBadge(KavrelDynamicColor tint, QWidget *parent) : QWidget(parent), m_tint(tint) { setFixedSize(22, 22); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_tint.resolve(palette(), 0.18));
        painter.drawEllipse(rect());
        SignInSymbols::paint(painter, QRectF(5.5, 5.5, 11, 11), QStringLiteral("exclamationmark"), m_tint.resolve(palette()));
    }

private:
    KavrelDynamicColor m_tint;
};

} // namespace

AuthMessageStrip::AuthMessageStrip(KavrelDynamicColor tint, const QString &text, QWidget *parent)
    : QWidget(parent)
    , m_tint(tint)
    , m_label(new ThemedLabel(QString(), 13, QFont::Medium, KavrelSystemColors::secondaryLabel, this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    layout->addWidget(new StripBadge(tint, this), 0, Qt::AlignTop);
    m_label->setWordWrap(true);
    m_label->setContentsMargins(0, 2, 0, 0); // the first line level with the badge
    layout->addWidget(m_label, 1, Qt::AlignTop);
    setText(text);
}

void AuthMessageStrip::setText(const QString &text)
{
    m_label->setText(KavrelLocalizationStore::shared().localizedMessage(text));
}

QString AuthMessageStrip::text() const
{
    return m_label->text();
}

void AuthMessageStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14);
    painter.fillPath(shape, m_tint.resolve(palette(), 0.08));
    painter.strokePath(shape, QPen(m_tint.resolve(palette(), 0.16), 1));
}

#include "kit/widgets/KavrelCrossFade.h"

#include <QPainter>

#include <algorithm>

KavrelCrossFade::KavrelCrossFade(QWidget *target, QPixmap picture, const KavrelSpring &spring)
    : QWidget(target), m_picture(std::move(picture)), m_fade(spring)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(target->rect());
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_opacity = 1 - value.toDouble();
        update();
    });
    connect(&m_fade, &QAbstractAnimation::finished, this, &KavrelCrossFade::finish);
}

KavrelCrossFade *KavrelCrossFade::running(const QWidget *target)
{
    return target->findChild<KavrelCrossFade *>(QString(), Qt::FindDirectChildrenOnly);
}

KavrelCrossFade *KavrelCrossFade::start(QWidget *target, const KavrelSpring &spring)
{
    // A fade still running is part of what the target shows now, so it is in the picture.
    QPixmap picture = target->grab();
    if (KavrelCrossFade *previous = running(target))
        previous->finish();
    auto *fade = new KavrelCrossFade(target, std::move(picture), spring);
    fade->m_fade.setStartValue(0.0);
    fade->m_fade.setEndValue(1.0);
    fade->show();
    fade->raise();
    fade->m_fade.start();
    return fade;
}

void KavrelCrossFade::finish()
{
    m_fade.stop();
    hide();
    setParent(nullptr);
    deleteLater();
}

void KavrelCrossFade::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(std::clamp(m_opacity, 0.0, 1.0));
    painter.drawPixmap(rect(), m_picture);
}

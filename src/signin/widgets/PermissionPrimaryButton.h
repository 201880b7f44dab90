#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>

// The onboarding's large call to action: a symbol and a bold title in white on a capsule
// shaded in one tint, with a soft glow of that tint below. The title is an interface key.
class PermissionPrimaryButton final : public QAbstractButton
{
    Q_OBJECT

public:
    PermissionPrimaryButton(const QString &titleKey, const QString &symbol, KavrelDynamicColor tint,
                            QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;

private:
    QRectF capsuleRect() const;

    QString m_symbol;
    KavrelDynamicColor m_tint;
};

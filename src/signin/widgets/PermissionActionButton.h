#pragma once

#include "app/KavrelPalette.h"

#include <QAbstractButton>
#include <QVariantAnimation>

// The permission card's button: a capsule in the card's accent with a symbol and a title in
// white; while a request runs a small spinner replaces the symbol. Disabled, it is a faint grey
// capsule with grey text.
class PermissionActionButton final : public QAbstractButton
{
    Q_OBJECT

public:
    PermissionActionButton(KavrelDynamicColor accent, QWidget *parent = nullptr);

    // The title is an interface key.
    void setContent(const QString &titleKey, const QString &symbol, bool inProgress);
    QString symbol() const { return m_symbol; }
    bool isInProgress() const { return m_inProgress; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KavrelDynamicColor m_accent;
    QString m_symbol;
    bool m_inProgress = false;
    QVariantAnimation m_spin;
};

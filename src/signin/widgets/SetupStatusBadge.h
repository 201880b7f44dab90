#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

// A capsule with a symbol and a short title in one tint. The title is shown as given.
class SetupStatusBadge final : public QWidget
{
    Q_OBJECT

public:
    SetupStatusBadge(const QString &title, const QString &symbol, KavrelDynamicColor tint, QWidget *parent = nullptr);

    void setContent(const QString &title, const QString &symbol, KavrelDynamicColor tint);
    QString title() const { return m_title; }
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_title;
    QString m_symbol;
    KavrelDynamicColor m_tint;
};

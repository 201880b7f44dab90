#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

// A small capsule with an optional symbol and a short text, for badges and status labels.
class KavrelPill final : public QWidget
{
    Q_OBJECT

public:
    struct Look
    {
        KavrelDynamicColor fill = KavrelSystemColors::secondaryLabel;
        double fillOpacity = 0.12;
        KavrelDynamicColor stroke = KavrelSystemColors::secondaryLabel;
        double strokeOpacity = 0;     // no border
        KavrelDynamicColor foreground = KavrelSystemColors::label;
        double horizontalPadding = 10;
        double height = 24;
    };

    explicit KavrelPill(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setSymbol(const QString &symbol);
    void setLook(const Look &look);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_text;
    QString m_symbol;
    Look m_look;
};

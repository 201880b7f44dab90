#pragma once

#include "app/KavrelPalette.h"

#include <QAbstractButton>
#include <QVariantAnimation>

// A button drawn as a capsule with a symbol and/or a text. While busy it shows a spinner in
// place of its symbol and takes no clicks. Disabled, it is drawn at half opacity.
class KavrelCapsuleButton final : public QAbstractButton
{
    Q_OBJECT

public:
    struct Look
    {
        KavrelDynamicColor fill = KavrelSystemColors::secondaryLabel;
        double fillOpacity = 0.1;
        KavrelDynamicColor stroke = KavrelSystemColors::secondaryLabel;
        double strokeOpacity = 0.18;
        KavrelDynamicColor foreground = KavrelSystemColors::label;
        double symbolSize = 12;
        double horizontalPadding = 12;
        bool drawsBackground = true;  // false inside a composite control that draws the capsule
    };

    explicit KavrelCapsuleButton(QWidget *parent = nullptr);

    void setLook(const Look &look);
    const Look &look() const { return m_look; }
    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    // A fixed size for symbol-only buttons; an empty size sizes the button to its content.
    void setFixedContentSize(QSize size);

    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    Look m_look;
    QString m_symbol;
    QSize m_fixedSize;
    bool m_busy = false;
    bool m_hovered = false;
    QVariantAnimation m_spin;
};

#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>

// A text button drawn as a link: coloured text and no box, underlined under the pointer and
// while focused, with the kit's focus ring round it. Disabled, it takes its look's disabled colour.
class KavrelLinkButton final : public QAbstractButton
{
    Q_OBJECT

public:
    struct Look
    {
        KavrelDynamicColor color = KavrelSystemColors::accent;
        KavrelDynamicColor disabledColor = KavrelSystemColors::secondaryLabel;
        double disabledOpacity = 0.7;
    };

    explicit KavrelLinkButton(const QString &text, QWidget *parent = nullptr);

    void setLook(const Look &look);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Look m_look;
};

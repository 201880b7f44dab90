#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

class ThemedLabel;

// A message line of the sign-in screen: an exclamation mark in a tinted circle and a text
// that wraps over as many lines as it needs, on a faint panel of the same tint. The text is
// an interface key or a finished text (shown as it is).
class AuthMessageStrip final : public QWidget
{
    Q_OBJECT

public:
    AuthMessageStrip(KavrelDynamicColor tint, const QString &text, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KavrelDynamicColor m_tint;
    ThemedLabel *m_label;
};

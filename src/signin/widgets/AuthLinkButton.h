#pragma once

#include <QAbstractButton>

// A text button drawn as a link: accent-coloured text, no box. Greyed while disabled.
class AuthLinkButton final : public QAbstractButton
{
    Q_OBJECT

public:
    // The text is an interface key, localized here.
    AuthLinkButton(const QString &key, int pixelSize, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

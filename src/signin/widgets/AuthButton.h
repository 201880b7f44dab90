#pragma once

#include <QAbstractButton>

// The action button of the sign-in forms: a symbol and a bold title in white on a purple
// gradient, as wide as the form, 52 px high. The title is an interface key.
class AuthButton final : public QAbstractButton
{
    Q_OBJECT

public:
    AuthButton(const QString &titleKey, const QString &symbol, QWidget *parent = nullptr);

    void setTitle(const QString &titleKey, const QString &symbol);
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
};

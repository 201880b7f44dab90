#pragma once

#include <QWidget>

// The screen shown while the saved session is restored: a spinner and "Restoring your
// session…" on a soft gradient. Never smaller than 880 × 620.
class AuthenticationLoadingView final : public QWidget
{
    Q_OBJECT

public:
    explicit AuthenticationLoadingView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_spinner;
};

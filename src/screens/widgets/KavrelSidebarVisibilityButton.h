#pragma once

#include <QAbstractButton>

// The toolbar's sidebar button. While the sidebar is hidden it carries an orange dot and says
// "Show sidebar", else "Hide sidebar".
class KavrelSidebarVisibilityButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit KavrelSidebarVisibilityButton(QWidget *parent = nullptr);

    void setSidebarHidden(bool hidden);
    bool isSidebarHidden() const { return m_sidebarHidden; }

    QSize sizeHint() const override { return QSize(28, 24); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_sidebarHidden = false;
};

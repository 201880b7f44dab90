#pragma once

#include <QAbstractButton>

// The blue "Update" button of the sidebar, shown while a newer version is known.
class KavrelSidebarUpdateButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit KavrelSidebarUpdateButton(QWidget *parent = nullptr);

    QSize sizeHint() const override { return QSize(100, 44); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

#pragma once

#include <QLabel>

// The centred hint of a panel that has nothing to show yet: monospaced, secondary colour.
class EmptyPanelPlaceholder final : public QLabel
{
    Q_OBJECT

public:
    explicit EmptyPanelPlaceholder(QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColours();
};

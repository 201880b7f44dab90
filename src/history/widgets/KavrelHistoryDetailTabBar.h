#pragma once

#include "history/KavrelHistoryDetailTab.h"
#include "kit/widgets/KavrelTabList.h"

#include <QWidget>

// The detail sheet's segmented tab bar: one equal-width button per tab, the selected one
// raised on a card. It takes the keyboard focus (Left and Right, Home and End pick a tab). It
// only reports presses; the owner sets the selection. A screen reader reads it as a list of page
// tabs, and hears the tab shown whenever it changes while the bar has the keyboard.
class KavrelHistoryDetailTabBar final : public QWidget, public KavrelTabList
{
    Q_OBJECT

public:
    explicit KavrelHistoryDetailTabBar(QWidget *parent = nullptr);

    void setSelection(KavrelHistoryDetailTab tab);
    KavrelHistoryDetailTab selection() const { return m_selection; }

    QSize sizeHint() const override;
    // The area of a tab's button, for tests and tooltips.
    QRect buttonRect(KavrelHistoryDetailTab tab) const;

    int tabCount() const override;
    QString tabName(int index) const override;
    int selectedTab() const override { return int(m_selection); }
    QRect tabArea(int index) const override;
    void pickTab(int index) override;

Q_SIGNALS:
    void tabPressed(KavrelHistoryDetailTab tab);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool event(QEvent *event) override;

private:
    KavrelHistoryDetailTab m_selection = KavrelHistoryDetailTab::transcribe;
};

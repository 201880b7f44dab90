#pragma once

#include <QRect>
#include <QString>

class QWidget;

// A widget that draws a row of tabs itself, one of them selected (or none), as a screen reader
// reads it: a list of page tabs, each named, the selected one selected and, while the widget has
// the keyboard, focused. Pressing a tab picks it, as a click on it does; pressing the list picks
// the next one, round. The kit's accessibility factory reads a widget registered as a page tab list
// through this.
class KavrelTabList
{
public:
    virtual ~KavrelTabList() = default;

    virtual int tabCount() const = 0;
    virtual QString tabName(int index) const = 0;
    // -1 while no tab is selected.
    virtual int selectedTab() const = 0;
    // In the widget's coordinates.
    virtual QRect tabArea(int index) const = 0;
    // Picks the tab as a click on it does.
    virtual void pickTab(int index) = 0;

protected:
    // Tells a screen reader which tab is shown, as a focus on that tab, while `widget` (this list)
    // has the keyboard: call when the selection changes.
    void announceSelectedTab(QWidget *widget) const;
    // The same, from the list's focusInEvent: told after Qt tells of the list itself.
    void keyboardCameTo(QWidget *widget) const;
};

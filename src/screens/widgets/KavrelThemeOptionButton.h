#pragma once

#include "kit/KavrelAppearanceMode.h"
#include "kit/widgets/KavrelSpringAnimation.h"

#include <QAbstractButton>

// One choice of the settings window's theme selector: a symbol over the mode's title, on a
// raised white tile when selected. On screen the tile fades in and out with a quick spring. Reachable with Tab; the arrow keys move between choices.
class KavrelThemeOptionButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit KavrelThemeOptionButton(KavrelAppearanceMode mode, QWidget *parent = nullptr);

    KavrelAppearanceMode mode() const { return m_mode; }
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    // How far the tile is shown: 0 or 1 once settled.
    double highlight() const { return m_highlight; }
    bool isAnimating() const { return m_highlightAnimation.state() == QAbstractAnimation::Running; }

    static QString titleKey(KavrelAppearanceMode mode);
    static QString symbol(KavrelAppearanceMode mode);

    QSize sizeHint() const override { return QSize(120, 44); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // Only the settings choose the theme: a click asks for it, setSelected() shows it.
    void nextCheckState() override {}

private:
    KavrelAppearanceMode m_mode;
    bool m_selected = false;
    double m_highlight = 0;
    KavrelSpringAnimation m_highlightAnimation;
};

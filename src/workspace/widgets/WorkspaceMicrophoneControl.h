#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QPointer>

class MicrophoneLevelBars;
class QMenu;
class SubtitleViewModel;

// The toolbar's microphone button: a click turns capture on or off; the context menu (right
// click or the menu key) lists the input devices with a check at the chosen one and starts or
// stops the level test. It mirrors the view model and keeps nothing of its own.
class WorkspaceMicrophoneControl final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit WorkspaceMicrophoneControl(SubtitleViewModel &viewModel, QWidget *parent = nullptr);

    // The context menu as it would open now (owned by the caller).
    QMenu *buildMenu(QWidget *parent) const;
    MicrophoneLevelBars *levelBars() const { return m_bars; }
    QString labelText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void refresh();
    // The kept part (shape and shadow) and the part drawn every time (symbol, label).
    void paintFace(QPainter &painter) const;
    // Where the symbol and the label are drawn: everything left of the level bars.
    QRect contentArea() const;
    void paintContent(QPainter &painter) const;
    // Drops the kept drawing of the button; the next paint draws it again.
    void forgetFace();
    QFont labelFont() const;

    SubtitleViewModel &m_viewModel;
    MicrophoneLevelBars *m_bars;
    QPixmap m_face;
};

#pragma once

#include <QAbstractButton>

// A sidebar tile: a 54-px rounded square with the section's symbol over its caption (at most
// two lines), drawn blue while selected. Tab reaches it; Space or Enter presses it.
class KavrelSidebarButton final : public QAbstractButton
{
    Q_OBJECT

public:
    KavrelSidebarButton(const QString &title, const QString &systemImage, QWidget *parent = nullptr);

    // Smaller tiles, closer to their captions, for a short window.
    void setCompact(bool compact);
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    QString systemImage() const { return m_systemImage; }

    // The height it takes in either form: its tile and its whole caption.
    int heightIn(bool compact) const;
    QSize sizeHint() const override { return QSize(100, heightIn(m_compact)); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString captionText(qreal width) const;

    QString m_systemImage;
    bool m_selected = false;
    bool m_compact = false;
};

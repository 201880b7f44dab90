#pragma once

#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <vector>

class QScrollArea;

// The blocks of a saved meeting, one card per block (pills over selectable text), in a column
// that may run to thousands of blocks. Every block's height is measured from its text, but a
// card is built only while it is in or near the sight of the scroll area around the list, so
// opening a two-hour meeting costs about what a short one does.
class KavrelHistoryBlockList final : public QWidget
{
    Q_OBJECT

public:
    struct Block
    {
        // Each pill's title (shown as given) and symbol.
        QList<QPair<QString, QString>> pills;
        QString text;
    };

    static constexpr int spacing = 12;

    explicit KavrelHistoryBlockList(QList<Block> blocks, QWidget *parent = nullptr);

    int blockCount() const { return int(m_blocks.size()); }
    // The card of a block while it is built, else null.
    QWidget *builtRow(int index) const;
    int builtRowCount() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // The top of every block at `width`, and the whole height last.
    const std::vector<int> &offsets(int width) const;
    void followScrollArea();
    // Builds the cards in and near sight, places them, and lets the far ones go.
    void buildVisibleRows();

    // The last height measured for each block, the same from `narrowest` up to `width` (up to any
    // width for a block that did not wrap): a list measured at one width rarely lays out its
    // blocks again for a slightly different one (the width left beside a scroll bar).
    struct Fit
    {
        int width = -1;
        int narrowest = 0;
        int height = 0;
    };

    QList<Block> m_blocks;
    mutable std::vector<Fit> m_fits;
    std::vector<QWidget *> m_rows;
    // Layouts ask at a few widths in turn (with and without a scroll bar): the last few are kept.
    struct Measured
    {
        int width;
        std::vector<int> offsets;
    };
    mutable std::vector<Measured> m_measured;
    QPointer<QScrollArea> m_scrollArea;
};

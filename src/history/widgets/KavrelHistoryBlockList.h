#pragma once

#include "kit/widgets/KavrelReadableText.h"

#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

class QScrollArea;

// The blocks of a saved meeting, one card per block (pills over selectable text), in a column
// that may run to thousands of blocks. A card is built only while it is in or near the sight of
// the scroll area around the list, so opening a two-hour meeting costs about what a short one
// does. Every block's height is measured from its text at the width the list settles at; layouts
// also ask at passing widths (with and without a scroll bar, for a minimum size), and those get
// an estimate from the count of characters rather than a measuring of every block. A list made
// again for the same texts (the tab built anew) takes over what the last one measured, so a
// reader's place in it is found again exactly.
//
// Tab comes to the list as to one text, a line for each block (its pills, then its text), which
// the arrows read (KavrelReadableText.h); the block with the caret is scrolled into sight.
class KavrelHistoryBlockList final : public QWidget, public KavrelReadableText
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
    // How often this list laid out the text of its blocks anew (blocks measured before at a
    // width that keeps their line breaks are not laid out again).
    int measuringPasses() const { return m_measuringPasses; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    QString readableText() const override { return m_readable; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void caretMoved() override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // The last height measured for each block, the same from `narrowest` up to `width` (up to any
    // width for a block that did not wrap): a list measured at one width rarely lays out its
    // blocks again for a slightly different one (the width left beside a scroll bar).
    struct Fit
    {
        int width = -1;
        int narrowest = 0;
        int height = 0;
    };
    struct Measured
    {
        int width;
        std::vector<int> offsets;
    };
    // What was measured of a set of texts in a font; shared by the lists made for them.
    struct Measurements
    {
        QString fontKey;
        QStringList texts;
        std::vector<Fit> fits;
        // Layouts ask at a few widths in turn: the last few are kept.
        std::vector<Measured> measured;
    };

    // The measurements of the lists made last: a tab built anew for the same meeting finds its own.
    static std::vector<std::shared_ptr<Measurements>> &keptMeasurements();
    // The top of every block at `width`, and the whole height last: measured.
    const std::vector<int> &offsets(int width) const;
    bool isMeasured(int width) const;
    int estimatedHeight(int width) const;
    // Measures the width the list has, asks for a new layout when it was placed by an estimate
    // that the measuring does not confirm, and builds what is in sight.
    void settle();
    // settle() on the next turn of the event loop, before the list is painted.
    void settleLater(bool again = false);
    bool scrollBarAboutToChange() const;
    void followScrollArea();
    // Builds the cards in and near sight, places them, and lets the far ones go.
    void buildVisibleRows();

    QList<Block> m_blocks;
    QString m_readable;
    // Where each block's line starts in the readable text.
    std::vector<int> m_readableStarts;
    std::shared_ptr<Measurements> m_measurements;
    std::vector<QWidget *> m_rows;
    // Estimates by width, until the next measuring (layouts ask the same widths again and again).
    mutable std::vector<std::pair<int, int>> m_estimates;
    mutable int m_measuringPasses = 0;
    bool m_settling = false;
    QPointer<QScrollArea> m_scrollArea;
};

#include "kit/widgets/KavrelTextBlocks.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace KavrelTextBlocks {

void removeBlock(QTextDocument *document, int number)
{
    const QTextBlock block = document->findBlockByNumber(number);
    if (!block.isValid())
        return;
    // Positions, not cursor moves: a move lays the blocks it passes out first, which in a long
    // document costs more than the edit.
    const int blockEnd = block.position() + block.length() - 1;
    QTextCursor cursor(document);
    if (block.next().isValid()) {
        cursor.setPosition(block.position());
        cursor.setPosition(block.next().position(), QTextCursor::KeepAnchor);
    } else if (block.previous().isValid()) {
        // The last block goes with the break before it.
        cursor.setPosition(block.position() - 1);
        cursor.setPosition(blockEnd, QTextCursor::KeepAnchor);
    } else {
        cursor.setPosition(block.position());
        cursor.setPosition(blockEnd, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
}

} // namespace KavrelTextBlocks

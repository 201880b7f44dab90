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
    QTextCursor cursor(block);
    if (block.next().isValid()) {
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    } else if (block.previous().isValid()) {
        cursor.movePosition(QTextCursor::PreviousBlock);
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
}

} // namespace KavrelTextBlocks

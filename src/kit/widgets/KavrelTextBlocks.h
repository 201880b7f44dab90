#pragma once

class QTextDocument;

// Editing a document kept as one block per row (the dialogue views).
namespace KavrelTextBlocks {

// Removes block `number` together with one line break beside it: the one after it, or the one
// before it when it is the last block; the only block is emptied.
void removeBlock(QTextDocument *document, int number);

} // namespace KavrelTextBlocks

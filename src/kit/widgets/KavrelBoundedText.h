#pragma once

#include <QAccessible>

class QObject;

// What a screen reader reads of a text field, with every offset it gives checked first: Qt's own
// text interface, except where Qt 6.4 gives no answer or a wrong one.
//
// Qt's text interface for a line edit (and a spin box's, which reads its line edit) finds a word
// or a sentence with a loop that never ends when the item it starts from is at the end of the
// text: asked for the word or the sentence at the caret while the caret is at the end of a field
// that holds any text, as a screen reader asks whenever the user types, the program's main thread
// spins for good. Here that item, the last one of the text, is found without Qt's loop. Qt's text
// views answer an offset outside their text with the text around the caret instead of nothing;
// here an offset outside the text gives nothing, and so does an answer whose range does not lie
// in the text. -1 stands for the end of the text and -2 for the caret, as clients use them.
//
// A password field keeps its text to itself: everything read here is read through Qt's interface,
// which gives none of it.
class KavrelBoundedText final : public QAccessibleTextInterface
{
public:
    // Over `qtText`, the text interface Qt gives `object`.
    KavrelBoundedText(const QObject *object, QAccessibleTextInterface *qtText);

    // An empty text, for any number of parts that have none of their own. Qt's bus bridge reads a
    // part's text without checking for none when a client sets the text of a part that offers
    // edits, and every part offers edits that change nothing (KavrelBoundedEditableText.h).
    static QAccessibleTextInterface *none();

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                             int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                            int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    // The word or the sentence that ends the text.
    QString lastItem(QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const;

    // Qt's interface: it lives as long as the interface holding this one.
    QAccessibleTextInterface *m_qt;
    // Whether Qt answers from its plain-text helper, the one that loops at the end of the text.
    bool m_qtLoopsAtTheEnd;
};

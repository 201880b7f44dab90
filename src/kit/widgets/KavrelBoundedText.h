#pragma once

#include <QAccessible>

#include <functional>
#include <memory>

class QObject;

// What a screen reader reads of a text field, with every offset it gives checked first: Qt's own
// text interface, except where Qt 6.4 gives no answer or a wrong one.
//
// Qt's text interface for a line edit (and a spin box's, which reads its line edit) finds a word
// or a sentence with a loop that never ends when no item edge lies before the place it starts
// from: asked for the word or the sentence at the caret while the caret is at the end of a field
// that holds any text, as a screen reader asks whenever the user types, or at the start of a text
// that begins with a space or a sign ("#3"), the program's main thread spins for good. Here the
// word or the sentence at an offset is found without Qt's loop, as Qt means to find it. Qt's text
// views answer an offset outside their text with the text around the caret instead of nothing;
// here an offset outside the text gives nothing, and so does an answer whose range does not lie
// in the text. -1 stands for the end of the text and -2 for the caret, as clients use them.
//
// A password field keeps its text to itself: everything read here is read through Qt's interface,
// which gives none of it.
//
// A part with no text of its own (a label, a button, a list's item, a tab) reads as its text the
// words it shows, read anew at each question: a screen reader's "say all" reads a part's text
// where it has one and its name only where it has none. Every part has a text, because Qt's bus
// bridge reads the text of a part that offers edits without checking for none, and every part
// offers edits that change nothing (KavrelBoundedEditableText.h).
class KavrelBoundedText final : public QAccessibleTextInterface
{
public:
    // Over `qtText`, the text interface Qt gives `object`.
    KavrelBoundedText(const QObject *object, QAccessibleTextInterface *qtText);
    // Over `words`, what a part shows: its text, which no one selects or edits.
    explicit KavrelBoundedText(std::function<QString()> words);
    ~KavrelBoundedText() override;

    // What `part` shows in words: a label's text, a button's caption, else its name.
    static QString shownWords(const QAccessibleInterface *part);

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
    // The word or the sentence at `offset` (at the end, the last one).
    QString itemAt(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const;

    // The words a part shows, when this one answers for them.
    std::unique_ptr<QAccessibleTextInterface> m_words;
    // Qt's interface (it lives as long as the interface holding this one), or the words.
    QAccessibleTextInterface *m_qt;
    // Whether Qt answers from its plain-text helper, the one that may loop.
    bool m_qtMayLoop;
};

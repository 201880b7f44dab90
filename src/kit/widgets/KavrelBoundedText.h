#pragma once

#include <QAccessible>
#include <QPointer>

#include <functional>
#include <memory>

class QLineEdit;
class QObject;
class QTextEdit;

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
// A text view tells where its characters lie as it shows them: a character lies where it is seen
// in the view's box, and one scrolled out of it lies nowhere; the character at a point of the box
// is the one shown there, or the nearest one (Qt's view answers none for its margins and between
// lines, and places characters without regard to what is in sight). Outside its box, none.
//
// A field that masks what is typed (a password field) tells no more than its mask: its text is the
// mask, one mask character for each character typed (none where it shows nothing), read as one
// item whatever the boundary but a character. Qt 6.4 answers such a field with an empty text of the
// secret's length, and tells each change with the very characters typed, which its bus bridge
// hands every client on the bus; masked() gives the change as the mask tells it.
//
// A part with no text of its own (a label, a button, a list's item, a tab) reads as its text the
// words it shows (a widget the keyboard reads, its whole text), read anew at each question: a
// screen reader's "say all" reads a part's text where it has one and its name only where it has
// none. No one edits such a text: the part offers no editable text (KavrelBoundedEditableText.h).
class KavrelBoundedText final : public QAccessibleTextInterface
{
public:
    // Over `qtText`, the text interface Qt gives `object`.
    KavrelBoundedText(const QObject *object, QAccessibleTextInterface *qtText);
    // Over `words`, what a part shows: its text, which no one selects or edits. Its caret is the
    // keyboard's where `object` is a widget the keyboard reads (KavrelReadableText.h).
    explicit KavrelBoundedText(std::function<QString()> words, QObject *object = nullptr);
    ~KavrelBoundedText() override;

    // What `part` shows in words: a label's text, a button's caption, else its name.
    static QString shownWords(const QAccessibleInterface *part);
    // `event` as a field that masks its text tells it: a change of its text (or its value) with
    // the mask of what was inserted and removed; none for any other event, which goes as it is.
    static std::unique_ptr<QAccessibleEvent> masked(QAccessibleEvent *event);

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
    // The line edit read, which may mask its text (whether it does may change at any time).
    QPointer<const QLineEdit> m_field;
    // The text view read, whose characters lie where it shows them.
    QPointer<const QTextEdit> m_view;
    // Whether Qt answers from its plain-text helper, the one that may loop.
    bool m_qtMayLoop;
};

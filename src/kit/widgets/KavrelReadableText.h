#pragma once

#include <QString>

class QKeyEvent;
class QWidget;

// A widget showing a text that the keyboard reads without editing it, as a read-only text view is
// read: Tab comes to it and leaves it, and the arrows move a caret through its text, by character
// (Left, Right), by line (Up, Down; a line ends at a line break), to a line's ends (Home, End) and
// to the text's (Ctrl+Home, Ctrl+End). A screen reader is told of each move and reads the text
// around the caret; the kit's accessibility factory reads such a widget as a read-only text whose
// caret is this one.
class KavrelReadableText
{
public:
    virtual ~KavrelReadableText() = default;

    // The text read, lines separated by line breaks.
    virtual QString readableText() const = 0;

    int readingCaret() const { return m_caret; }
    // Puts the caret at `position` (kept within the text) and tells a screen reader.
    void setReadingCaret(int position);

protected:
    // Moves the caret for a reading key and tells a screen reader; false for any other key.
    // Call from the widget's keyPressEvent.
    bool readKey(QKeyEvent *event);
    // Shows the place of the caret (the widget scrolls it into sight); called after each move.
    virtual void caretMoved() {}

private:
    int m_caret = 0;
};

#pragma once

#include "session/PublishedTranscript.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>

class QAbstractScrollArea;
class QTextCursor;
class QTextEdit;

// A titled, read-only text panel of the mini window: one column of the dialogue as
// "[HH:mm:ss] text" lines, a grey live-draft line below them (or a placeholder while there is
// neither), and scrolling that follows the end of the text. Scrolling waits a moment after the
// last change, so a stream of changes scrolls once.
//
// It follows the column row by row, as the main window's panels do: a new final result adds
// or replaces one paragraph, so a two-hour meeting costs the same per change as its first
// minute, and changes elsewhere (the microphone level, the status) cost nothing here.
class KavrelMiniTranscriptPanel final : public QWidget
{
    Q_OBJECT

public:
    // Without a transcript the panel shows the draft or the placeholder only.
    KavrelMiniTranscriptPanel(PublishedTranscript *transcript, PublishedTranscript::Column column,
                              QWidget *parent = nullptr);

    // `title` is shown as given; `draftText` is shown trimmed, hidden when blank; `placeholder`
    // while the column has no rows and no draft.
    void setContent(const QString &title, const QString &draftText, const QString &placeholder, const QString &symbol);
    void setScrollDelay(std::chrono::milliseconds delay) { m_scrollTimer.setInterval(delay); }

    // The lines shown above the draft (the placeholder when it shows), and the draft line.
    QString shownText() const;
    QString shownDraft() const;
    QAbstractScrollArea *scrollArea() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    enum class Tail { none, draft, placeholder };

    void rebuild();
    void insertRow(int row);
    void replaceRow(int row);
    void removeRow(int row);
    // Puts the block after the rows in line with the draft and the placeholder.
    void refreshTail();
    void writeTail(QTextCursor &cursor, Tail tail);
    Tail wantedTail() const;
    QString rowLine(int row) const;
    void contentChanged();
    void scrollToBottom();
    void applyColours();
    QRectF textAreaRect() const;

    QPointer<PublishedTranscript> m_transcript;
    PublishedTranscript::Column m_column;
    QString m_title;
    QString m_symbol;
    QString m_draft;
    QString m_placeholder;
    QTextEdit *m_view = nullptr;
    int m_rowBlocks = 0;
    Tail m_tail = Tail::none;
    QTimer m_scrollTimer;
    bool m_hasScrolledOnce = false;
};

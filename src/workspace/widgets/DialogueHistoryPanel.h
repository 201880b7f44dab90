#pragma once

#include "kit/widgets/KavrelDeferredRefresh.h"
#include "session/PublishedTranscript.h"

#include <QTextEdit>
#include <QTimer>

#include <chrono>
#include <functional>

class KavrelOpaqueBackdrop;

// The scrolling body of the transcript or translation column: one row per dialogue turn
// (time badge, speaker badge when there is a speaker, the text) and the live draft of the
// turn being spoken below them, all plain, selectable text.
//
// It follows the column row by row: a new final result appends or replaces one block of
// the document, so a two-hour meeting costs the same per word as its first minute. It keeps
// to the newest row unless the user has scrolled up; the scroll waits for a short quiet
// moment, so a burst of changes scrolls once.
class DialogueHistoryPanel final : public QTextEdit
{
    Q_OBJECT

public:
    using SpeakerLabel = std::function<QString(int)>;

    DialogueHistoryPanel(PublishedTranscript *transcript, PublishedTranscript::Column column, SpeakerLabel speakerLabel,
                         QWidget *parent = nullptr);

    void setFontSize(double size);
    double fontSize() const { return m_fontSize; }
    void setDraftText(const QString &text);
    void setScrollDelay(std::chrono::milliseconds delay) { m_scrollTimer.setInterval(delay); }

    // The value whose change scrolls the panel (rows, last row, draft).
    QString scrollSignature() const;
    bool followsNewestRow() const { return m_followsEnd; }
    // Rows shown, the draft row not counted.
    int shownRowCount() const { return m_rowBlocks; }
    bool showsDraftRow() const { return m_hasDraftBlock; }

Q_SIGNALS:
    // A scheduled scroll to the end ran.
    void scrolledToBottom();

protected:
    void paintEvent(QPaintEvent *event) override;
    void paintPart(const QRect &part);
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void rebuild();
    void insertRow(int row);
    void replaceRow(int row);
    void removeRow(int row);
    void writeRow(QTextCursor &cursor, const DialogueEntry &entry);
    void writeDraft(QTextCursor &cursor);
    void contentChanged();
    void scrollToBottom();
    void followEnd();

    KavrelOpaqueBackdrop *m_backdrop;
    PublishedTranscript *m_transcript;
    PublishedTranscript::Column m_column;
    SpeakerLabel m_speakerLabel;
    double m_fontSize = 18;
    QString m_draftText;
    int m_rowBlocks = 0;
    bool m_hasDraftBlock = false;
    QString m_lastSignature;
    QTimer m_scrollTimer;
    bool m_followsEnd = true;
    bool m_scrolling = false;
    // Following grown text waits for the turn after the edit (see followEnd()).
    KavrelDeferredRefresh m_follow;
};

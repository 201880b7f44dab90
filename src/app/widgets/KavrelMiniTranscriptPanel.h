#pragma once

#include <QTimer>
#include <QWidget>

#include <chrono>

class QLabel;
class QScrollArea;

// A titled, read-only text panel of the mini window: the text, a grey live-draft line below it,
// and scrolling that follows the end of the text. Scrolling waits a moment after the last
// change, so a stream of changes scrolls once.
class KavrelMiniTranscriptPanel final : public QWidget
{
    Q_OBJECT

public:
    explicit KavrelMiniTranscriptPanel(QWidget *parent = nullptr);

    // `title` is shown as given; `text` is hidden when empty and `draftText` when blank.
    void setContent(const QString &title, const QString &text, const QString &draftText, const QString &symbol);
    void setScrollDelay(std::chrono::milliseconds delay) { m_scrollTimer.setInterval(delay); }

    QString shownText() const;
    QString shownDraft() const;
    QScrollArea *scrollArea() const { return m_scrollArea; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyColours();
    void scrollToBottom();
    QRectF textAreaRect() const;

    QString m_title;
    QString m_symbol;
    QString m_scrollKey;
    QLabel *m_text = nullptr;
    QLabel *m_draft = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    QTimer m_scrollTimer;
    bool m_hasScrolledOnce = false;
};

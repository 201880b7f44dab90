#pragma once

#include "kit/KavrelPalette.h"
#include "services/MeetingSessionHistoryTypes.h"

#include <QFont>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class KavrelCapsuleButton;
class KavrelLocalizationStore;
class KavrelPill;
class QWidget;

// The pieces the history list and detail sheet are built from. Titles passed as keys are
// looked up in the shared localization store here; texts from saved records are shown as
// plain text, unchanged. Each function returns a new widget without a parent.
namespace KavrelHistoryComponents {

// A capsule with a symbol and the looked-up title (times and names come back unchanged).
KavrelPill *metaPill(const QString &title, const QString &symbol);
// A capsule tinted with `tint`.
KavrelPill *statusPill(const QString &title, KavrelDynamicColor tint);
// "%@ sessions" with the count, on the accent capsule.
KavrelPill *countBadge(int count);

// The capsule button of a panel header; a loading one shows a spinner in place of its symbol.
KavrelCapsuleButton *panelActionButton(const QString &title, const QString &symbol, bool isEnabled, bool isLoading);
// A spinning busy indicator of the given side in the accent colour; a screen reader names it by
// what is loading.
QWidget *spinner(int side, const QString &accessibleName);

QWidget *loadingCard(const QString &text);
QWidget *errorCard(const QString &text, const QString &retryTitle, std::function<void()> retryAction);
// "Load more" under the list; while the next page loads it spins and takes no clicks.
KavrelCapsuleButton *loadMoreButton(bool loadingMore);
QWidget *emptyCard(const QString &title, const QString &subtitle);

// A titled card with an accessory at the trailing end of its header. Takes ownership of
// the accessory (may be null) and the content.
QWidget *detailPanel(const QString &title, QWidget *accessory, QWidget *content);

// Selectable monospaced plain text that the keyboard reads, named for a screen reader by the
// title (an interface key) of what it holds; line breaks are kept.
QWidget *textContent(const QString &text, const QString &titleKey);
// The busy row, the error and the summary text (or "No summary yet.").
QWidget *summaryContent(const std::optional<QString> &text, const std::optional<QString> &errorMessage,
                        bool isLoading);

// One block: its pills over its selectable text, on a rounded card. Takes the pills.
QWidget *blockRow(const QList<QWidget *> &pills, const QString &text);
// The height blockRow() takes for this text at this width. `narrowest`, when given, is set to
// the narrowest width that keeps the same line breaks (the height holds from there up to `width`,
// and to any width when no line was wrapped: `wrapped`).
int blockRowHeight(const QString &text, int width, int *narrowest = nullptr, bool *wrapped = nullptr);
// What an estimate needs of the block font: a character's advance, a line's height as a label
// lays it out, and an empty label's height.
struct BlockTextUnits
{
    qreal advance = 1;
    qreal lineHeight = 0;
    int emptyHeight = 0;
};
BlockTextUnits blockTextUnits();
QFont blockTextFont();
// About the height blockRow() takes, from the count of characters and spaces alone (the text's
// font is monospaced); a hundred times cheaper than blockRowHeight().
int blockRowHeightEstimate(const QString &text, int width, const BlockTextUnits &units);

// One row per block in the given order, built where the reader looks; nothing for no blocks.
QWidget *transcriptBlockList(const QList<MeetingSessionTranscriptBlock> &blocks);
// Each translation block is labelled with its language's name in the interface language.
QWidget *translationBlockList(const QList<MeetingSessionTranslationBlock> &blocks,
                              const KavrelLocalizationStore &localization);

} // namespace KavrelHistoryComponents

#pragma once

#include "services/MeetingSessionHistoryTypes.h"

#include <QAbstractItemView>
#include <QPointer>
#include <QStyledItemDelegate>

class KavrelHistoryViewModel;

// Paints each meeting of the history list as a card (title, duration, preview, metadata and
// status pills, Open and Delete) and turns clicks on its title and buttons into requests. The
// card the list's keyboard focus is on wears the focus ring, or its Open or Delete does when
// Tab went on to it.
// A card that is opening or deleting shows a spinner and takes no clicks.
class KavrelHistorySessionCardDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // Room between two cards.
    static constexpr int cardSpacing = 16;

    // The view model must outlive the delegate.
    explicit KavrelHistorySessionCardDelegate(KavrelHistoryViewModel *viewModel, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // The list whose width the cards take; they flow their pills onto more rows when narrow.
    void setListView(QAbstractItemView *view) { m_listView = view; }
    // The turn of the busy spinners, from 0 to 1.
    void setSpinnerPhase(double phase) { m_spinnerPhase = phase; }

    // A card that is opening or being deleted takes no second action, by mouse or keyboard.
    bool acceptsActions(const MeetingSessionHistoryListItem &item) const { return !isOpening(item) && !isDeleting(item); }

    enum class Part { none, title, open, remove };
    // What of the card at `rect` lies under the point.
    Part partAt(const QRect &rect, const QPoint &point) const;
    // Where a part of the card at `rect` is drawn (none: the card itself), and what it reads:
    // the card's title, "Open", or "Delete" ("Deleting" while it runs).
    QRect partArea(const QRect &rect, Part part) const;
    QString partName(const MeetingSessionHistoryListItem &item, Part part) const;
    // Asks to open the meeting (the title, Open) or to delete it (Delete), as a click on the part
    // does; false when the card takes no action now.
    bool trigger(const MeetingSessionHistoryListItem &item, Part part);
    // Where on the current card the keyboard is: the card itself (none), its Open or its Delete.
    void setKeyboardPart(Part part) { m_keyboardPart = part; }
    Part keyboardPart() const { return m_keyboardPart; }

Q_SIGNALS:
    void openRequested(const MeetingSessionHistoryListItem &item);
    void deleteRequested(const MeetingSessionHistoryListItem &item);

private:
    struct Geometry;
    Geometry geometry(const QRect &rect) const;
    bool isOpening(const MeetingSessionHistoryListItem &item) const;
    bool isDeleting(const MeetingSessionHistoryListItem &item) const;

    QPointer<KavrelHistoryViewModel> m_viewModel;
    QPointer<QAbstractItemView> m_listView;
    double m_spinnerPhase = 0;
    Part m_keyboardPart = Part::none;
};

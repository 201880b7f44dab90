#pragma once

#include "services/MeetingSessionHistoryTypes.h"

#include <QAbstractListModel>
#include <QList>
#include <QPointer>

class KavrelHistoryViewModel;

// The view model's loaded meetings as a list model, one row per meeting. Appended pages
// and deletions are passed on as inserted and removed rows, so a list view keeps its
// scroll position; any other change resets the model.
class KavrelHistorySessionListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { idRole = Qt::UserRole + 1 };

    // The view model must outlive the model.
    explicit KavrelHistorySessionListModel(KavrelHistoryViewModel *viewModel, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The meeting of a row; the row must exist.
    const MeetingSessionHistoryListItem &item(int row) const { return m_rows.at(row); }

private:
    void follow();

    QPointer<KavrelHistoryViewModel> m_viewModel;
    QList<MeetingSessionHistoryListItem> m_rows;
};

#include "history/KavrelHistorySessionListModel.h"

#include "history/KavrelHistoryViewModel.h"

#include <algorithm>

KavrelHistorySessionListModel::KavrelHistorySessionListModel(KavrelHistoryViewModel *viewModel, QObject *parent)
    : QAbstractListModel(parent)
    , m_viewModel(viewModel)
    , m_rows(viewModel->sessions())
{
    connect(viewModel, &KavrelHistoryViewModel::sessionsChanged, this, &KavrelHistorySessionListModel::follow);
}

int KavrelHistorySessionListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant KavrelHistorySessionListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const MeetingSessionHistoryListItem &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return row.title.value_or(row.previewText.value_or(QString()));
    case idRole:
        return row.id;
    default:
        return QVariant();
    }
}

void KavrelHistorySessionListModel::follow()
{
    if (!m_viewModel)
        return;
    const QList<MeetingSessionHistoryListItem> &next = m_viewModel->sessions();

    // A next page: the old rows with more after them.
    if (next.size() > m_rows.size() && std::equal(m_rows.cbegin(), m_rows.cend(), next.cbegin())) {
        beginInsertRows(QModelIndex(), int(m_rows.size()), int(next.size()) - 1);
        m_rows = next;
        endInsertRows();
        return;
    }

    // A deletion: the new rows are the old ones with some left out.
    if (next.size() < m_rows.size()) {
        qsizetype matched = 0;
        QList<int> removed;
        for (qsizetype i = 0; i < m_rows.size(); ++i) {
            if (matched < next.size() && m_rows.at(i) == next.at(matched))
                ++matched;
            else
                removed.append(int(i));
        }
        if (matched == next.size()) {
            // From the end, so earlier indexes stay valid.
            for (auto it = removed.crbegin(); it != removed.crend(); ++it) {
                beginRemoveRows(QModelIndex(), *it, *it);
                m_rows.removeAt(*it);
                endRemoveRows();
            }
            return;
        }
    }

    if (next == m_rows)
        return;
    beginResetModel();
    m_rows = next;
    endResetModel();
}

#pragma once

#include "Models.h"

#include <QAbstractTableModel>
#include <QList>

class LaunchdStore;

// The scheduled-jobs table: one row per job of the store's filtered list, in its order.
class JobsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { dot, name, schedule, program, domain, status, actions, numberOfColumns };

    enum Role {
        // The label under the friendly name in the name column.
        secondLineRole = Qt::UserRole + 1,
        // Whether the row's job has a process.
        runningRole,
    };

    explicit JobsTableModel(LaunchdStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const LaunchdJob& job(int row) const;
    // Among the rows shown, the jobs that have a process.
    int runningCount() const;

private:
    LaunchdStore& m_store;
    QList<LaunchdJob> m_rows;

    void reload();
};

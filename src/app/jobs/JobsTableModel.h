#pragma once

#include "Job.h"
#include "RowTint.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>

class JobsStore;

// The scheduled-jobs table: one row per job of the store's filtered list, in its order. Rows
// are keyed on the job's identity: a new listing or filter inserts, removes and changes rows in
// place, so that selection and scrolling stay where they were. Rows that a listing brings while
// the user waits for none (a change a source reported, a poll) are tinted for a moment.
class JobsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { dot, name, schedule, nextRun, program, domain, status, actions, numberOfColumns };

    enum Role {
        // The label under the name in the name column.
        secondLineRole = Qt::UserRole + 1,
        // Whether the row's job has a process.
        runningRole,
        // Whether an action on the row's job is under way.
        busyRole,
    };

    explicit JobsTableModel(JobsStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const Job& job(int row) const;
    bool isBusy(int row) const;
    // Among the rows shown, the jobs that have a process.
    int runningCount() const;

    RowTint& tint() { return m_tint; }

private:
    JobsStore& m_store;
    QList<Job> m_rows;
    QSet<JobIdentity> m_busy;
    RowTint m_tint;

    // `listed`: the store's jobs changed, rather than what the filters let through.
    void sync(bool listed);
    static QString tintIdentity(const JobIdentity& job);
    void syncBusy();
    void changed(int first, int last);
};

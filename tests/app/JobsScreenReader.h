#pragma once

#include "JobsView.h"

#include <QAbstractItemModel>
#include <QTableView>
#include <QToolButton>

#include <memory>

// What a test reads off the scheduled-jobs screen: the cells of its table by row or by job
// label, and the buttons of a row.
class JobsScreenReader {
protected:
    enum Column { dot, name, schedule, nextRun, program, domain, status, actions };
    // The label under the name.
    static constexpr int labelRole = Qt::UserRole + 1;

    std::unique_ptr<JobsView> view;

    QTableView& table() const { return *view->findChild<QTableView*>("jobs"); }
    QAbstractItemModel& model() const { return *table().model(); }
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return model().data(model().index(row, column), role);
    }
    int rowOf(const QString& label) const
    {
        for (int row = 0; row < model().rowCount(); ++row) {
            if (cell(row, name, labelRole).toString() == label)
                return row;
        }
        return -1;
    }
    QVariant cellOf(const QString& label, int column, int role = Qt::DisplayRole) const
    {
        return cell(rowOf(label), column, role);
    }
    // Scrolled into view first: rows get their buttons as they come on screen.
    QToolButton* button(int row, const char* which) const
    {
        const QModelIndex index = model().index(row, actions);
        table().scrollTo(index);
        QWidget* cellWidget = table().indexWidget(index);
        return cellWidget ? cellWidget->findChild<QToolButton*>(which) : nullptr;
    }
    QToolButton* button(const QString& label, const char* which) const
    {
        return button(rowOf(label), which);
    }
};

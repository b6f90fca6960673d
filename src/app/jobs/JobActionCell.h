#pragma once

#include "Job.h"

#include <QWidget>

#include <functional>

class QToolButton;

// The buttons of one row of the scheduled-jobs table: its job's actions in their order, then
// open and reveal for the file that defines the job. While an action runs, all are disabled.
class JobActionCell : public QWidget {
    Q_OBJECT

public:
    using Perform = std::function<void(JobAction)>;

    JobActionCell(const Job& job, bool busy, Perform perform, QWidget* parent = nullptr);

private:
    QToolButton* addButton(const QString& objectName, const QString& symbol, const QString& title,
                           const QString& tooltip, const QString& label);
};

#pragma once

#include "Job.h"

#include <QWidget>

#include <memory>

class ErrorBanner;
class JobsStore;
class JobsTableModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class QToolButton;
class QVBoxLayout;

// The scheduled-jobs screen. Owns its store; loads the job list each time it is shown.
class JobsView : public QWidget {
    Q_OBJECT

public:
    // Over the sources of this system.
    explicit JobsView(QWidget* parent = nullptr);
    explicit JobsView(std::shared_ptr<JobsStore> store, QWidget* parent = nullptr);
    ~JobsView() override;

    JobsStore& store() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::shared_ptr<JobsStore> m_store;
    JobsTableModel* m_model = nullptr;

    QVBoxLayout* m_layout = nullptr;
    QLabel* m_symbol = nullptr;
    QLabel* m_hint = nullptr;
    QCheckBox* m_runningOnly = nullptr;
    QCheckBox* m_hideSystemJobs = nullptr;
    QLineEdit* m_search = nullptr;
    QToolButton* m_refresh = nullptr;
    ErrorBanner* m_banner = nullptr;
    QTableView* m_table = nullptr;
    QWidget* m_spinner = nullptr;
    QLabel* m_summary = nullptr;

    QWidget* buildToolbar();
    QWidget* buildTable();
    QWidget* buildStatusBar();

    // Colours derived from the palette, again whenever the palette changes (light or dark).
    void applyPaletteColours();
    void syncToolbar();
    void syncBanner();
    void syncStatusBar();
    void syncHint();
};

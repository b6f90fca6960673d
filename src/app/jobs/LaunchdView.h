#pragma once

#include "LaunchctlManager.h"

#include <QWidget>

#include <memory>

class ErrorBanner;
class JobsTableModel;
class LaunchdStore;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class QToolButton;
class QVBoxLayout;

// The scheduled-jobs screen. Owns its store; loads the job list each time it is shown.
class LaunchdView : public QWidget {
    Q_OBJECT

public:
    explicit LaunchdView(QWidget* parent = nullptr);
    ~LaunchdView() override;

    LaunchdStore& store() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    using Action = LaunchctlManager::ActionResult (*)(const LaunchdJob&);

    std::shared_ptr<LaunchdStore> m_store;
    JobsTableModel* m_model = nullptr;

    QVBoxLayout* m_layout = nullptr;
    QLabel* m_symbol = nullptr;
    QLabel* m_hint = nullptr;
    QCheckBox* m_runningOnly = nullptr;
    QCheckBox* m_hideApple = nullptr;
    QLineEdit* m_search = nullptr;
    QToolButton* m_refresh = nullptr;
    ErrorBanner* m_banner = nullptr;
    QTableView* m_table = nullptr;
    QWidget* m_spinner = nullptr;
    QLabel* m_summary = nullptr;

    QWidget* buildToolbar();
    QWidget* buildTable();
    QWidget* buildStatusBar();
    QWidget* buildActionCell(const LaunchdJob& job);

    // Colours derived from the palette, again whenever the palette changes (light or dark).
    void applyPaletteColours();
    void syncToolbar();
    void syncBanner();
    void syncStatusBar();

    // Runs a launchctl action now; a failure goes to the banner, a success reloads the list.
    void perform(const LaunchdJob& job, Action action);
};

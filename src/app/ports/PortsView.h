#pragma once

#include "Models.h"
#include "ScreenCommands.h"

#include <QPersistentModelIndex>
#include <QSet>
#include <QUuid>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class ErrorBanner;
class PortsStore;
class RefreshLoop;
class PortsTableModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class QToolButton;
class QVBoxLayout;

// The ports screen. Owns its store; scans each time it is shown, and by itself while it stays on
// screen (see autoRefreshInterval).
class PortsView : public QWidget, public ScreenCommands {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds autoRefreshInterval{2000};

    explicit PortsView(QWidget* parent = nullptr);
    ~PortsView() override;

    PortsStore& store() const;
    PortsTableModel& model() const;
    QTableView& table() const;
    // The identities of the selected rows; may hold records of an earlier scan.
    QSet<QUuid> selection() const;

    QLineEdit& searchField() const override;
    void refreshNow() override;
    // Asks to terminate the selected rows' processes, as the context menu's entry does.
    void terminateSelected();
    // The selected rows, in the table's order, as tab-separated text on the clipboard.
    void copySelectedRows() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::shared_ptr<PortsStore> m_store;
    PortsTableModel* m_model = nullptr;
    QSet<QUuid> m_selection;
    bool m_restoringSelection = false;
    // The row at the top of a scrolled table, kept there while a scan changes the rows.
    QPersistentModelIndex m_topRow;
    RefreshLoop* m_loop = nullptr;

    QLabel* m_symbol = nullptr;
    QCheckBox* m_autoRefresh = nullptr;
    QCheckBox* m_commonOnly = nullptr;
    QLineEdit* m_search = nullptr;
    QToolButton* m_refresh = nullptr;
    QVBoxLayout* m_layout = nullptr;
    ErrorBanner* m_banner = nullptr;
    QTableView* m_table = nullptr;
    QWidget* m_busy = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_hint = nullptr;

    QWidget* makeToolbar();
    QWidget* makeStatusBar();
    void setUpTable();
    void rememberSortOrder();
    void updateColors();
    void updateLoading();
    void updateStatus();
    void updateBanner();
    void restoreSelection();
    void takeSelection();
    void repaintTintedRows();
    void rememberTopRow();
    void keepTopRow();
    void showContextMenu(const QPoint& position);
    QList<ServicePort> resolve(const QSet<QUuid>& ids) const;
    void confirmKill(const ServicePort& record);
    void confirmKillMultiple(const QList<ServicePort>& records);
};

#pragma once

#include <QMainWindow>
#include <QSize>
#include <QTimer>

#include <optional>

class QListWidget;
class QSplitter;
class QVBoxLayout;

// The one window: a sidebar of three tabs and the screen of the selected tab. It comes back as
// the user left it: size, place, maximised or not, and the sidebar's width.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    enum class Tab { ports, jobs, settings };

    // The size of a first start: room for every column of both tables.
    static constexpr QSize defaultSize{1280, 720};
    static constexpr QSize smallestSize{1040, 560};
    static constexpr int defaultSidebarWidth = 180;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The selected tab; none when the user has deselected every row.
    std::optional<Tab> selection() const;
    void select(std::optional<Tab> tab);
    // The screen now shown in the detail area.
    QWidget* screen() const;
    QListWidget* sidebar() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QSplitter* m_splitter = nullptr;
    QListWidget* m_sidebar = nullptr;
    QWidget* m_detail = nullptr;
    QVBoxLayout* m_detailLayout = nullptr;
    QWidget* m_screen = nullptr;
    // The tab whose screen is shown; a missing selection shows the ports screen.
    Tab m_shown = Tab::ports;
    int m_sidebarWidth = defaultSidebarWidth;
    bool m_sidebarPlaced = false;
    // Gathers the moves and resizes of one drag into one change.
    QTimer m_placeChanged;

    void addMenus();
    void showScreen(Tab tab);
    void restorePlace();
    void placeSidebar();
    // Keeps the window's size, place and state; `changed`: the user changed them.
    void rememberPlace(bool changed);
};

#pragma once

#include <QMainWindow>

#include <optional>

class QListWidget;
class QSplitter;
class QVBoxLayout;

// The one window: a sidebar of three tabs and the screen of the selected tab.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    enum class Tab { ports, jobs, settings };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The selected tab; none when the user has deselected every row.
    std::optional<Tab> selection() const;
    void select(std::optional<Tab> tab);
    // The screen now shown in the detail area.
    QWidget* screen() const;
    QListWidget* sidebar() const;

private:
    QSplitter* m_splitter = nullptr;
    QListWidget* m_sidebar = nullptr;
    QWidget* m_detail = nullptr;
    QVBoxLayout* m_detailLayout = nullptr;
    QWidget* m_screen = nullptr;
    // The tab whose screen is shown; a missing selection shows the ports screen.
    Tab m_shown = Tab::ports;

    void showScreen(Tab tab);
};

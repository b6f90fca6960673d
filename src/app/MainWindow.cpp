#include "MainWindow.h"

#include "AppSettings.h"
#include "JobsView.h"
#include "PortsView.h"
#include "SettingsView.h"
#include "Symbols.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenuBar>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

struct TabInfo {
    MainWindow::Tab tab;
    const char* title;
    const char* symbol;
};

const TabInfo tabs[] = {
    {MainWindow::Tab::ports, "端口 / 服务", "network"},
    {MainWindow::Tab::jobs, "定时任务", "clock.badge.checkmark"},
    {MainWindow::Tab::settings, "设置", "slider.horizontal.3"},
};

constexpr int tabRole = Qt::UserRole + 1;

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Kestrow"));

    // A File menu with nothing that opens a second window.
    QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
    QAction* quit = file->addAction(Symbols::icon(QStringLiteral("xmark")), QStringLiteral("退出"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setMinimumSize(1040, 560);

    m_sidebar = new QListWidget(m_splitter);
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setMinimumWidth(160);
    m_sidebar->setMaximumWidth(220);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setIconSize(QSize(16, 16));
    for (const TabInfo& info : tabs) {
        auto* item = new QListWidgetItem(Symbols::icon(QString::fromUtf8(info.symbol)),
                                         QString::fromUtf8(info.title), m_sidebar);
        item->setData(tabRole, static_cast<int>(info.tab));
    }

    m_detail = new QWidget(m_splitter);
    m_detailLayout = new QVBoxLayout(m_detail);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    m_detailLayout->setSpacing(0);

    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detail);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({180, 1040 - 180});
    setCentralWidget(m_splitter);

    showScreen(Tab::ports);
    m_sidebar->setCurrentRow(0);
    connect(m_sidebar, &QListWidget::itemSelectionChanged, this, [this] {
        const std::optional<Tab> tab = selection();
        showScreen(tab.value_or(Tab::ports));
    });
    resize(1100, 640);
}

MainWindow::~MainWindow() = default;

std::optional<MainWindow::Tab> MainWindow::selection() const
{
    const QList<QListWidgetItem*> selected = m_sidebar->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return static_cast<Tab>(selected.first()->data(tabRole).toInt());
}

void MainWindow::select(std::optional<Tab> tab)
{
    if (!tab) {
        m_sidebar->clearSelection();
        return;
    }
    m_sidebar->setCurrentRow(static_cast<int>(*tab));
}

QWidget* MainWindow::screen() const
{
    return m_screen;
}

QListWidget* MainWindow::sidebar() const
{
    return m_sidebar;
}

void MainWindow::showScreen(Tab tab)
{
    if (m_screen && tab == m_shown)
        return;
    // The old screen goes, and its store with it: a screen shown again starts over.
    delete m_screen;
    m_screen = nullptr;
    switch (tab) {
    case Tab::ports:
        m_screen = new PortsView(m_detail);
        break;
    case Tab::jobs:
        m_screen = new JobsView(m_detail);
        break;
    case Tab::settings:
        m_screen = new SettingsView(AppSettings::shared(), m_detail);
        break;
    }
    m_shown = tab;
    m_detailLayout->addWidget(m_screen);
    m_screen->show();
}

#include "MainWindow.h"

#include "AppSettings.h"
#include "JobsView.h"
#include "PortsView.h"
#include "ScreenCommands.h"
#include "SettingsView.h"
#include "Shortcuts.h"
#include "Symbols.h"
#include "ViewState.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

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
constexpr int sidebarMin = 160;
constexpr int sidebarMax = 220;
// No window is this large: a size beyond it is damaged.
constexpr int largestSide = 100000;

const QString sizeKey = QStringLiteral("window/size");
const QString positionKey = QStringLiteral("window/position");
const QString maximizedKey = QStringLiteral("window/maximized");
const QString sidebarKey = QStringLiteral("window/sidebarWidth");

// Whether a window there shows enough of its top edge on some screen to be taken and moved.
bool reachable(const QPoint& position, const QSize& size)
{
    const QRect top(position, QSize(size.width(), 30));
    const int enough = std::min(100, size.width());
    const QList<QScreen*> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&](QScreen* screen) {
        const QRect shown = screen->availableGeometry().intersected(top);
        return shown.width() >= enough && shown.height() >= 10;
    });
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Kestrow"));

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setMinimumSize(smallestSize);

    m_sidebar = new QListWidget(m_splitter);
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setMinimumWidth(sidebarMin);
    m_sidebar->setMaximumWidth(sidebarMax);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setIconSize(QSize(16, 16));
    for (const TabInfo& info : tabs) {
        const QString title = QString::fromUtf8(info.title);
        auto* item =
            new QListWidgetItem(Symbols::icon(QString::fromUtf8(info.symbol)), title, m_sidebar);
        item->setData(tabRole, static_cast<int>(info.tab));
        item->setToolTip(
            Shortcuts::withKeys(title, {Shortcuts::screen(static_cast<int>(info.tab))}));
    }

    m_detail = new QWidget(m_splitter);
    m_detailLayout = new QVBoxLayout(m_detail);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    m_detailLayout->setSpacing(0);

    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detail);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    setCentralWidget(m_splitter);
    addMenus();

    showScreen(Tab::ports);
    m_sidebar->setCurrentRow(0);
    connect(m_sidebar, &QListWidget::itemSelectionChanged, this, [this] {
        const std::optional<Tab> tab = selection();
        showScreen(tab.value_or(Tab::ports));
    });

    m_placeChanged.setSingleShot(true);
    m_placeChanged.setInterval(ViewState::writeDelayMs);
    connect(&m_placeChanged, &QTimer::timeout, this, [this] { rememberPlace(true); });
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] {
        m_sidebarWidth = m_sidebar->width();
        ViewState::shared().set(sidebarKey, m_sidebarWidth);
    });
    restorePlace();
}

MainWindow::~MainWindow() = default;

void MainWindow::addMenus()
{
    // A File menu with nothing that opens a second window.
    QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
    QAction* quit = file->addAction(Symbols::icon(QStringLiteral("xmark")), QStringLiteral("退出"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    // What the keys do on the screen shown, each entry with its keys beside it.
    auto onScreen = [this](auto run) {
        return [this, run] {
            if (auto* commands = dynamic_cast<ScreenCommands*>(m_screen))
                run(*commands);
        };
    };
    QMenu* edit = menuBar()->addMenu(QStringLiteral("编辑"));
    QAction* copy =
        edit->addAction(Symbols::icon(QStringLiteral("doc.on.doc")), QStringLiteral("复制"));
    copy->setObjectName(QStringLiteral("copy"));
    copy->setShortcut(Shortcuts::copy());
    // The tables take Ctrl+C themselves while they have the focus, so that the fields around
    // them keep it for their text; this entry shows the key and copies from the menu.
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this,
            onScreen([](ScreenCommands& screen) { screen.copySelectedRows(); }));
    QAction* search =
        edit->addAction(Symbols::icon(QStringLiteral("magnifyingglass")), QStringLiteral("搜索"));
    search->setObjectName(QStringLiteral("search"));
    search->setShortcut(Shortcuts::search());
    connect(search, &QAction::triggered, this, onScreen([](ScreenCommands& screen) {
                QLineEdit& field = screen.searchField();
                field.setFocus(Qt::ShortcutFocusReason);
                field.selectAll();
            }));

    QMenu* view = menuBar()->addMenu(QStringLiteral("视图"));
    for (const TabInfo& info : tabs) {
        QAction* show = view->addAction(Symbols::icon(QString::fromUtf8(info.symbol)),
                                        QString::fromUtf8(info.title));
        show->setShortcut(Shortcuts::screen(static_cast<int>(info.tab)));
        connect(show, &QAction::triggered, this, [this, tab = info.tab] { select(tab); });
    }
    view->addSeparator();
    QAction* refresh =
        view->addAction(Symbols::icon(QStringLiteral("arrow.clockwise")), QStringLiteral("刷新"));
    refresh->setObjectName(QStringLiteral("refresh"));
    refresh->setShortcuts(Shortcuts::refresh());
    connect(refresh, &QAction::triggered, this,
            onScreen([](ScreenCommands& screen) { screen.refreshNow(); }));
}

void MainWindow::restorePlace()
{
    const ViewState& state = ViewState::shared();
    QSize size = state.size(sizeKey, largestSide).value_or(defaultSize);
    const std::optional<QPoint> position = state.point(positionKey);
    const bool placed = position && reachable(*position, size);

    // No larger than the screen it opens on, where that screen holds the smallest window at all.
    QScreen* screen = placed ? QGuiApplication::screenAt(*position) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableSize() : QSize();
    if (room.width() >= smallestSize.width() && room.height() >= smallestSize.height())
        size = size.boundedTo(room);
    resize(size.expandedTo(smallestSize));
    if (placed)
        move(*position);
    if (state.flag(maximizedKey).value_or(false))
        setWindowState(windowState() | Qt::WindowMaximized);
    m_sidebarWidth = state.number(sidebarKey, sidebarMin, sidebarMax).value_or(defaultSidebarWidth);
    placeSidebar();
    rememberPlace(false);
}

void MainWindow::placeSidebar()
{
    // Until the window is laid out, the splitter is as wide as the window will be.
    const int total = isVisible() ? m_splitter->width() : width();
    m_splitter->setSizes({m_sidebarWidth, total - m_sidebarWidth - m_splitter->handleWidth()});
}

void MainWindow::rememberPlace(bool changed)
{
    ViewState& state = ViewState::shared();
    auto put = [&](const QString& key, const QVariant& value) {
        if (changed)
            state.set(key, value);
        else
            state.keep(key, value);
    };
    // The size and place to come back to from maximised or full screen: those the window had
    // before, as far as the window system lets them be known.
    QSize normalSize = size();
    QPoint normalPosition = pos();
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) {
        const QRect normal = normalGeometry();
        normalSize = normal.size();
        // normalGeometry() is the area inside the frame; the window is placed by its frame.
        normalPosition = normal.topLeft() - (geometry().topLeft() - pos());
    }
    if (normalSize.isValid() && !normalSize.isEmpty()) {
        if (state.size(sizeKey, largestSide) != normalSize)
            put(sizeKey, normalSize);
        if (state.point(positionKey) != normalPosition)
            put(positionKey, normalPosition);
    }
    if (!(windowState() & Qt::WindowMinimized) &&
        state.flag(maximizedKey) != bool(windowState() & Qt::WindowMaximized))
        put(maximizedKey, bool(windowState() & Qt::WindowMaximized));
    if (state.number(sidebarKey, sidebarMin, sidebarMax) != m_sidebarWidth)
        put(sidebarKey, m_sidebarWidth);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_placeChanged.stop();
    rememberPlace(true);
    ViewState::shared().flush();
    QMainWindow::closeEvent(event);
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        m_placeChanged.start();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (isVisible())
        m_placeChanged.start();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (isVisible())
        m_placeChanged.start();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The splitter learns its width once laid out; the sidebar keeps its own width whatever the
    // window's.
    if (!m_sidebarPlaced) {
        m_sidebarPlaced = true;
        placeSidebar();
    }
}

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

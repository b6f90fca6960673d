#include "PortsView.h"
#include "AppSettings.h"
#include "ErrorBanner.h"
#include "PortsTableModel.h"
#include "StandInEngine.h"
#include "Stores.h"
#include "SystemdSandbox.h"
#include "SystemdServices.h"
#include "TestSockets.h"
#include "TestSupport.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include <functional>

namespace {

using Column = PortsTableModel::Column;

ServicePort record(qint64 port, const QString& command, qint32 pid = 999999,
                   std::optional<QString> appName = std::nullopt,
                   std::optional<QString> workingDir = std::nullopt, QString user = QString())
{
    ServicePort p;
    p.id = QUuid::createUuid();
    p.port = port;
    p.networkProtocol = QStringLiteral("TCP");
    p.address = QStringLiteral("127.0.0.1");
    p.pid = pid;
    p.command = command;
    p.user = user.isNull() ? Platform::loginName() : user;
    p.appName = std::move(appName);
    p.workingDir = std::move(workingDir);
    return p;
}

// Waiting hands: each runs its action on the next popup menu or message box once it is open.
QList<QPointer<QTimer>>& pendingHands()
{
    static QList<QPointer<QTimer>> timers;
    return timers;
}

// Runs `act` once `ready` holds; the hand is withdrawn first, so that an action that waits does
// not run again meanwhile.
void whenOpen(std::function<bool()> ready, std::function<void()> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, ready, act] {
        if (!ready())
            return;
        timer->stop();
        timer->deleteLater();
        act();
    });
    timer->start();
    pendingHands().append(timer);
}

// Fails for every hand whose menu or dialog never came, and withdraws it.
void expectNoPendingHands()
{
    for (const QPointer<QTimer>& timer : pendingHands()) {
        if (timer && timer->isActive()) {
            ADD_FAILURE() << "an expected menu or dialog never opened";
            delete timer;
        }
    }
    pendingHands().clear();
}

QMenu* openMenu()
{
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QMessageBox* openDialog()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box && box->isVisible() ? box : nullptr;
}

void onMenu(std::function<void(QMenu*)> action)
{
    whenOpen([] { return openMenu() != nullptr; }, [action] { action(openMenu()); });
}

void onDialog(std::function<void(QMessageBox*)> action)
{
    whenOpen([] { return openDialog() != nullptr; }, [action] { action(openDialog()); });
}

QStringList actionTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("|") : action->text());
    return texts;
}

void clickAction(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return;
        }
    }
    ADD_FAILURE() << "no menu item " << text.toStdString();
    menu->close();
}

QPushButton* button(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* candidate : box->buttons()) {
        if (candidate->text() == text)
            return qobject_cast<QPushButton*>(candidate);
    }
    return nullptr;
}

struct Dialog {
    QString windowTitle;
    QString title;
    QString message;
    QStringList buttons;
    QList<QMessageBox::ButtonRole> roles;
};

Dialog describe(QMessageBox* box)
{
    Dialog dialog{box->windowTitle(), box->text(), box->informativeText(), {}, {}};
    // In the order a person sees them, left to right.
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
        return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
    });
    for (QAbstractButton* b : buttons) {
        dialog.buttons.append(b->text());
        dialog.roles.append(box->buttonRole(b));
    }
    return dialog;
}

QSet<qint64> selectedPortsOf(QTableView& table)
{
    QSet<qint64> ports;
    auto& model = static_cast<PortsTableModel&>(*table.model());
    for (const QModelIndex& index : table.selectionModel()->selectedRows())
        ports.insert(model.record(index.row()).port);
    return ports;
}

class PortsScreen : public ::testing::Test {
protected:
    QList<ServicePort> scanned;
    TestSockets sockets;
    std::unique_ptr<PortsView> view;

    void SetUp() override
    {
        forgetViewState();
        AppSettings::shared().setCommonPorts(AppSettings::defaultPorts());
    }
    void TearDown() override
    {
        expectNoPendingHands();
        // A scan started by the test's last action still reads `scanned` on its worker.
        QThreadPool::globalInstance()->waitForDone();
    }

    // A screen whose scans give `records` instead of the machine's sockets.
    void show(const QList<ServicePort>& records)
    {
        scanned = records;
        view = std::make_unique<PortsView>();
        view->store().setScannerForTesting([this] { return scanned; });
        // Only the test says when the made-up machine changes.
        view->findChild<QCheckBox*>("autoRefresh")->setChecked(false);
        view->resize(1100, 600);
        view->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->store().isLoading(); }));
    }

    PortsTableModel& model() { return view->model(); }
    QTableView& table() { return view->table(); }

    QStringList column(int col)
    {
        QStringList texts;
        for (int row = 0; row < model().rowCount(); ++row)
            texts.append(model().index(row, col).data().toString());
        return texts;
    }
    QPoint cellCentre(int row, int col)
    {
        return table().visualRect(model().index(row, col)).center();
    }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(table().viewport(), Qt::LeftButton, modifiers,
                          cellCentre(row, Column::port));
    }
    void rightClickRow(int row)
    {
        const QPoint at = cellCentre(row, Column::port);
        QTest::mousePress(table().viewport(), Qt::RightButton, {}, at);
        QTest::mouseRelease(table().viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, table().viewport()->mapToGlobal(at));
        QApplication::sendEvent(table().viewport(), &event);
    }
    // The items of the row's context menu, each with its symbol; the menu is closed again.
    QStringList menuItems(int row)
    {
        QStringList items;
        onMenu([&](QMenu* menu) {
            items = actionTexts(menu);
            for (QAction* action : menu->actions())
                EXPECT_TRUE(action->isSeparator() || !action->icon().isNull())
                    << items.join(' ').toStdString();
            menu->close();
        });
        rightClickRow(row);
        return items;
    }
    void clickHeader(int col)
    {
        QHeaderView* header = table().horizontalHeader();
        const QPoint at(header->sectionViewportPosition(col) + header->sectionSize(col) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    // A key pressed while the table has the focus in the active window.
    void pressOnTable(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
    {
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        table().setFocus();
        QTest::keyClick(&table(), key, modifiers);
    }
    void clickTerminate(int row)
    {
        const QRect cell = table().visualRect(model().index(row, Column::action));
        QTest::mouseClick(table().viewport(), Qt::LeftButton, {},
                          QPoint(cell.left() + 14, cell.center().y()));
    }
    QString status() { return view->findChild<QLabel*>("statusText")->text(); }
    ErrorBanner* banner() { return view->findChild<ErrorBanner*>("errorBanner"); }

    // A loopback listener: {descriptor, port}.
    std::pair<int, qint64> listener() { return sockets.open(AF_INET, SOCK_STREAM, true); }
    // One on a free port below this one, so that its row comes before that port's.
    std::pair<int, qint64> listenBelow(qint64 port)
    {
        for (qint64 below = port - 1; below > port - 500 && below > 1024; --below) {
            if (const auto [fd, bound] = sockets.open(AF_INET, SOCK_STREAM, true, int(below));
                bound)
                return {fd, bound};
        }
        return {-1, 0};
    }

    // A screen of this machine's listeners, which follows the machine by itself.
    void showMachine()
    {
        view = std::make_unique<PortsView>();
        view->resize(1100, 400);
        view->show();
    }
    int rowOf(qint64 port, std::optional<qint32> pid = {})
    {
        for (int row = 0; row < model().rowCount(); ++row) {
            if (model().record(row).port == port &&
                model().record(row).pid == pid.value_or(model().record(row).pid))
                return row;
        }
        return -1;
    }
    // Waits, with no click, until the listener's row is shown with its process's own name, or
    // until it has gone.
    bool waitForRow(qint64 port, qint32 pid, bool shown = true)
    {
        return QTest::qWaitFor(
            [&] {
                const int row = rowOf(port, pid);
                return shown ? row >= 0 && model().record(row).command == "sleep" : row < 0;
            },
            20000);
    }
    void select(int row, Qt::KeyboardModifiers modifiers = {})
    {
        table().scrollTo(model().index(row, 0));
        clickRow(row, modifiers);
    }
};

TEST_F(PortsScreen, ToolbarColumnsAndStatusBar)
{
    show({});
    EXPECT_EQ(view->findChild<QLabel*>("toolbarTitle")->text(), "后台服务 / 端口");
    auto* search = view->findChild<QLineEdit*>();
    EXPECT_EQ(search->placeholderText(), "搜索端口、应用、目录或地址");
    // Automatic refreshes are on by default; their box comes before the common ports' one.
    auto* automatic = view->findChild<QCheckBox*>("autoRefresh");
    auto* common = view->findChild<QCheckBox*>("commonOnly");
    ASSERT_TRUE(automatic && common);
    EXPECT_EQ(automatic->text(), "自动刷新");
    EXPECT_EQ(common->text(), "只看常用端口");
    EXPECT_LT(automatic->geometry().right(), common->geometry().left());
    QToolButton* refresh = nullptr;
    for (auto* candidate : view->findChildren<QToolButton*>())
        if (candidate->toolTip() == "刷新 (F5 / Ctrl+R)")
            refresh = candidate;
    ASSERT_TRUE(refresh);
    EXPECT_TRUE(refresh->text().isEmpty());
    EXPECT_FALSE(refresh->icon().isNull());

    QStringList titles;
    for (int col = 0; col < model().columnCount(); ++col)
        titles.append(model().headerData(col, Qt::Horizontal).toString());
    EXPECT_EQ(titles, QStringList({"端口", "协议", "来源应用", "启动目录", "PID", "监听地址",
                                   "用户", "操作"}));
    // Dragging stays within a column's bounds.
    QHeaderView* header = table().horizontalHeader();
    header->resizeSection(Column::port, 20);
    EXPECT_GT(header->sectionSize(Column::port), 20);

    EXPECT_EQ(status(), "共 0 个监听端口");
    EXPECT_EQ(view->findChild<QLabel*>("statusHint")->text(),
              "提示：终止其他用户/系统进程需以管理员身份运行");
    EXPECT_EQ(banner(), nullptr);

    // While a scan runs: progress, "正在扫描…", refresh disabled; the rest stays usable.
    view->store().setIsLoading(true);
    EXPECT_EQ(status(), "正在扫描…");
    EXPECT_FALSE(refresh->isEnabled());
    EXPECT_TRUE(search->isEnabled());
    EXPECT_TRUE(table().isEnabled());
    view->store().setPorts({record(80, "nginx"), record(443, "nginx")});
    view->store().setIsLoading(false);
    EXPECT_EQ(status(), "共 2 个监听端口");
    EXPECT_TRUE(refresh->isEnabled());

    // The refresh button scans again.
    scanned = {record(1, "a"), record(2, "b"), record(3, "c")};
    QTest::mouseClick(refresh, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status() == "共 3 个监听端口"; }));
}

TEST_F(PortsScreen, CellsShowWhatTheRecordHolds)
{
    const QString home = Platform::homeDirectory();
    QTemporaryDir icons;
    QImage square(32, 32, QImage::Format_ARGB32);
    square.fill(Qt::blue);
    ASSERT_TRUE(square.save(icons.filePath("code.png")));
    ServicePort app =
        record(65535, "node", 999991, QString("Visual Studio Code"), home + "/src/api");
    app.iconName = icons.filePath("code.png");
    // A name and a command line that would turn the text around them, and a service.
    ServicePort disguised = record(8000, "ev\u202Ename", 999993);
    disguised.commandLine = "/opt/ev\u202Ename --listen\t8000";
    disguised.service = ServiceUnit{"ev.service", ServiceUnit::Manager::system, {}, true};
    // A listener whose process this scan could not see.
    ServicePort unseen = record(22, "", 0, std::nullopt, std::nullopt, "root");
    // Listening on every interface, on loopback.
    app.address = "*";
    unseen.address = "0.0.0.0";
    disguised.address = "::";
    ServicePort local = record(5432, "postgres", 999992, std::nullopt, std::nullopt, "postgres");
    local.address = "::1";
    show({app, local, disguised, unseen});
    ASSERT_EQ(model().rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        const QModelIndex cell = model().index(row, Column::address);
        const bool exposed = model().record(row).address != "::1";
        EXPECT_EQ(cell.data(Qt::DecorationRole).value<QIcon>().isNull(), !exposed) << row;
        EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(),
                  exposed ? "对所有网络接口开放，其他机器可以连接" : "")
            << row;
    }

    // Sorted by port.
    EXPECT_EQ(column(Column::port), QStringList({"22", "5432", "8000", "65535"}));
    EXPECT_TRUE(model().index(0, Column::port).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(column(Column::application),
              QStringList({"", "postgres", "ev\\u202Ename", "Visual Studio Code"}));
    EXPECT_EQ(column(Column::pid), QStringList({"—", "999992", "999993", "999991"}));
    EXPECT_FALSE(
        model().index(1, Column::application).data(PortsTableModel::SubtitleRole).isValid());
    EXPECT_EQ(model().index(3, Column::application).data(PortsTableModel::SubtitleRole).toString(),
              "node");
    EXPECT_EQ(model().index(2, Column::application).data(Qt::ToolTipRole).toString(),
              "/opt/ev\\u202Ename --listen\\t8000\nsystemd 服务：ev.service");
    EXPECT_FALSE(model().index(1, Column::application).data(Qt::ToolTipRole).isValid());
    // The scan's icon name gives the icon; without one the placeholder is drawn.
    EXPECT_TRUE(model().index(3, Column::application).data(PortsTableModel::AppIconRole).isValid());
    EXPECT_FALSE(
        model().index(1, Column::application).data(PortsTableModel::AppIconRole).isValid());

    EXPECT_EQ(column(Column::directory), QStringList({"—", "—", "—", "~/src/api"}));
    const QColor dash =
        model().index(0, Column::directory).data(Qt::ForegroundRole).value<QColor>();
    const QColor dir = model().index(3, Column::directory).data(Qt::ForegroundRole).value<QColor>();
    EXPECT_LT(dash.alphaF(), dir.alphaF());
    EXPECT_EQ(model().index(3, Column::directory).data(Qt::ToolTipRole).toString(),
              home + "/src/api");
    EXPECT_FALSE(model().index(0, Column::directory).data(Qt::ToolTipRole).isValid());

    EXPECT_EQ(column(Column::action), QStringList(4, "终止"));
    QStringList tips;
    for (int row = 0; row < 4; ++row)
        tips.append(model().index(row, Column::action).data(Qt::ToolTipRole).toString());
    EXPECT_EQ(tips, QStringList({"属于其他用户，需要管理员权限", "属于其他用户，可能需要管理员权限",
                                 "终止该进程", "终止该进程"}));
    // Only the row without a process has its button disabled; clicking it asks nothing.
    EXPECT_FALSE(model().flags(model().index(0, Column::action)) & Qt::ItemIsEnabled);
    EXPECT_TRUE(model().flags(model().index(1, Column::action)) & Qt::ItemIsEnabled);
    clickTerminate(0);
    QTest::qWait(50);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The directory can be selected and copied, as shown; the dash cannot be opened.
    QTest::mouseClick(table().viewport(), Qt::LeftButton, {}, cellCentre(3, Column::directory));
    auto* field = table().viewport()->findChild<QLineEdit*>("directoryField");
    ASSERT_TRUE(field);
    EXPECT_TRUE(field->isReadOnly());
    EXPECT_EQ(field->text(), "~/src/api");
    field->selectAll();
    field->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "~/src/api");
    QPointer<QLineEdit> closing = field;
    QTest::keyClick(field, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closing.isNull(); }));
    QTest::mouseClick(table().viewport(), Qt::LeftButton, {}, cellCentre(1, Column::directory));
    EXPECT_EQ(table().viewport()->findChild<QLineEdit*>("directoryField"), nullptr);

    // The placeholder icon is painted: the icon area of the application cell is not blank.
    table().selectionModel()->clearSelection();
    const QRect cell = table().visualRect(model().index(1, Column::application));
    const QImage image =
        table().viewport()->grab(QRect(cell.left() + 6, cell.top(), 18, cell.height())).toImage();
    const QColor background = image.pixelColor(0, 0);
    int painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            painted += image.pixelColor(x, y) != background;
    EXPECT_GT(painted, 10);
}

TEST_F(PortsScreen, HeaderClicksSortNumbersAndTexts)
{
    show({record(8080, "node10"), record(80, "Node2"), record(443, "apache"),
          record(9000, "Node2")});
    EXPECT_EQ(column(Column::port), QStringList({"80", "443", "8080", "9000"}));

    clickHeader(Column::port);
    EXPECT_EQ(column(Column::port), QStringList({"9000", "8080", "443", "80"}));
    EXPECT_EQ(table().horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // Texts: case-insensitive, digit runs by value; equal names fall back to the port order
    // chosen before.
    clickHeader(Column::application);
    EXPECT_EQ(column(Column::application), QStringList({"apache", "Node2", "Node2", "node10"}));
    EXPECT_EQ(column(Column::port), QStringList({"443", "9000", "80", "8080"}));
    EXPECT_EQ(table().horizontalHeader()->sortIndicatorSection(), Column::application);
    EXPECT_EQ(table().horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    clickHeader(Column::application);
    EXPECT_EQ(column(Column::application), QStringList({"node10", "Node2", "Node2", "apache"}));
    // Narrowing keeps the order.
    QTest::keyClicks(view->findChild<QLineEdit*>(), "NODE");
    EXPECT_EQ(column(Column::port), QStringList({"8080", "9000", "80"}));
    view->findChild<QLineEdit*>()->clear();

    // The action column does not sort and leaves the indicator where it was.
    clickHeader(Column::action);
    EXPECT_EQ(column(Column::application), QStringList({"node10", "Node2", "Node2", "apache"}));
    EXPECT_EQ(table().horizontalHeader()->sortIndicatorSection(), Column::application);

    // A new scan keeps the order the user chose.
    view->store().setPorts({record(1, "b"), record(2, "a10"), record(3, "a9")});
    EXPECT_EQ(column(Column::application), QStringList({"b", "a10", "a9"}));
}

// Every scan gives its records new ids, but rows are known by process, port and protocol: a scan
// changes only the rows that changed, where a whole sort would put them, and the selection and
// the current row stay with their records.
TEST_F(PortsScreen, AScanChangesOnlyTheRowsThatChanged)
{
    show({record(3000, "node", 101), record(5432, "postgres", 102), record(8080, "nginx", 103),
          record(8080, "nginx", 104), record(9000, "php-fpm", 105), record(6379, "redis", 106)});
    clickHeader(Column::application);
    clickRow(rowOf(5432));
    clickRow(rowOf(6379), Qt::ControlModifier);
    ASSERT_EQ(model().record(table().currentIndex().row()).port, 6379);
    QSignalSpy resets(&model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model(), &QAbstractItemModel::rowsRemoved);

    ServicePort moved = record(9000, "aardvark", 105);
    ServicePort elsewhere = record(8080, "nginx", 104, std::nullopt, QString("/srv/www"));
    view->store().setPorts({record(5432, "postgres", 102), record(8080, "nginx", 103), elsewhere,
                            moved, record(6379, "redis", 106), record(4000, "bun", 107),
                            record(7000, "zig", 108)});
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(removed.count(), 1);
    int insertedRows = 0;
    for (const QList<QVariant>& signal : inserted)
        insertedRows += signal[2].toInt() - signal[1].toInt() + 1;
    EXPECT_EQ(insertedRows, 2);

    // The same order as a model sorting the new list from scratch, and the same selection.
    auto expectAsSortedAfresh = [&] {
        PortsTableModel sorted(view->store());
        sorted.setSortOrder(model().sortOrder());
        sorted.reload();
        ASSERT_EQ(model().rowCount(), sorted.rowCount());
        for (int row = 0; row < model().rowCount(); ++row)
            EXPECT_EQ(model().record(row), sorted.record(row)) << row;
        EXPECT_EQ(selectedPortsOf(table()), (QSet<qint64>{5432, 6379}));
        EXPECT_EQ(model().record(table().currentIndex().row()).port, 6379);
        QSet<QUuid> current;
        for (const QModelIndex& index : table().selectionModel()->selectedRows())
            current.insert(model().record(index.row()).id);
        EXPECT_EQ(view->selection(), current);
    };
    expectAsSortedAfresh();
    EXPECT_EQ(column(Column::application).first(), "aardvark");
    EXPECT_EQ(model().index(rowOf(8080, 104), Column::directory).data().toString(), "/srv/www");

    // Only the rows that appeared are tinted.
    for (int row = 0; row < model().rowCount(); ++row) {
        const bool appeared = model().record(row).pid >= 107;
        EXPECT_EQ(model().index(row, Column::port).data(Qt::BackgroundRole).isValid(), appeared)
            << row;
    }
    // On screen, the tint fades until the row looks as it would drawn afresh.
    auto shown = [&] {
        const QRect cell = table().visualRect(model().index(rowOf(4000, 107), Column::protocol));
        const QPoint at = table().viewport()->mapTo(view.get(), cell.topLeft() + QPoint(2, 2));
        return view->screen()->grabWindow(view->winId()).toImage().pixelColor(at).name();
    };
    auto drawnAfresh = [&] {
        const QRect cell = table().visualRect(model().index(rowOf(4000, 107), Column::protocol));
        return table().viewport()->grab(cell).toImage().pixelColor(2, 2).name();
    };
    QTest::qWait(100);
    const QString tinted = shown();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model().tint().isEmpty(); }, 5000));
    QTest::qWait(100);
    EXPECT_NE(shown(), tinted);
    EXPECT_EQ(shown(), drawnAfresh());

    // Rows that arrive at many places at once, while others go; a row whose container is now
    // known shows it.
    QList<ServicePort> next;
    for (ServicePort kept : view->store().ports()) {
        if (kept.port == 6379)
            kept.container = Containers::ContainerDescription{"cache", "redis:7", {}, {}, true};
        if (kept.pid % 2 == 0)
            next.append(kept);
    }
    for (const auto& [name, pid] :
         {std::pair("abc", 109), {"zzz", 110}, {"oat", 111}, {"quince", 112}, {"sed", 113}})
        next.append(record(1000 + pid, name, pid));
    view->store().setPorts(next);
    expectAsSortedAfresh();
    EXPECT_EQ(model().index(rowOf(6379), Column::application).data().toString(), "容器 cache");
}

TEST_F(PortsScreen, SearchAndCommonPortsNarrowTheRows)
{
    show({record(8080, "node"), record(80, "nginx"), record(3000, "ruby")});
    auto* search = view->findChild<QLineEdit*>();
    QTest::keyClick(search, '8');
    EXPECT_EQ(view->store().filter(), "8");
    EXPECT_EQ(column(Column::port), QStringList({"80", "8080"}));
    EXPECT_EQ(status(), "共 2 个监听端口");
    QTest::keyClick(search, '0');
    QTest::keyClick(search, '8');
    EXPECT_EQ(column(Column::port), QStringList({"8080"}));
    EXPECT_EQ(status(), "共 1 个监听端口");
    search->clear();
    EXPECT_EQ(status(), "共 3 个监听端口");

    AppSettings::shared().setCommonPorts({{8080, "web"}, {3000, ""}});
    auto* common = view->findChild<QCheckBox*>("commonOnly");
    QTest::mouseClick(common, Qt::LeftButton, {}, QPoint(5, common->height() / 2));
    EXPECT_TRUE(view->store().commonOnly());
    EXPECT_EQ(column(Column::port), QStringList({"3000", "8080"}));
    view->store().setCommonOnly(false);
    EXPECT_FALSE(common->isChecked());
}

TEST_F(PortsScreen, ContextMenusForOneAndForSeveralRows)
{
    const QString dir = Platform::homeDirectory() + "/work/api";
    ServicePort service = record(9000, "php-fpm");
    service.service = ServiceUnit{"php8.2-fpm.service", ServiceUnit::Manager::system, {}, false};
    show({record(8080, "node", 999991, std::nullopt, dir), record(5432, "postgres"),
          record(3000, "ruby"), record(22, "", 0), service});
    QClipboard* clipboard = QGuiApplication::clipboard();

    QStringList items;
    onMenu([&](QMenu* menu) {
        items = actionTexts(menu);
        clickAction(menu, "复制目录路径");
    });
    rightClickRow(rowOf(8080));
    EXPECT_EQ(items, QStringList({"打开目录", "在 Finder 中显示", "复制目录路径", "|", "复制端口号",
                                  "|", "终止进程"}));
    EXPECT_EQ(clipboard->text(), dir);

    clipboard->setText("something else");
    onMenu([&](QMenu* menu) {
        items = actionTexts(menu);
        clickAction(menu, "复制端口号");
    });
    rightClickRow(rowOf(5432));
    EXPECT_EQ(items, QStringList({"复制端口号", "|", "终止进程"}));
    EXPECT_EQ(clipboard->text(), "5432");

    // A process the scan could not see cannot be terminated; a service can be stopped.
    EXPECT_EQ(menuItems(rowOf(22)), QStringList({"复制端口号"}));
    EXPECT_EQ(menuItems(rowOf(9000)),
              QStringList({"复制端口号", "|", "终止进程", "停止服务 php8.2-fpm.service"}));

    // Three selected rows: one bulk item for all of them, which leaves out the unseen process.
    clickRow(rowOf(3000));
    clickRow(rowOf(8080), Qt::ShiftModifier);
    clickRow(rowOf(22), Qt::ControlModifier);
    ASSERT_EQ(view->selection().size(), 4);
    EXPECT_EQ(menuItems(rowOf(5432)), QStringList({"一键终止选中的 3 项"}));

    // Outside the selection, a row gives the menu of that row alone.
    clickRow(rowOf(3000));
    EXPECT_EQ(menuItems(rowOf(5432)), QStringList({"复制端口号", "|", "终止进程"}));

    // A click below the rows opens nothing.
    bool opened = false;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            opened = true;
            popup->close();
        }
    });
    closer.start();
    const QPoint below(10, table().viewport()->height() - 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, below,
                            table().viewport()->mapToGlobal(below));
    QApplication::sendEvent(table().viewport(), &event);
    QTest::qWait(50);
    EXPECT_FALSE(opened);
}

TEST_F(PortsScreen, SingleConfirmationCancelsOrFailsIntoTheBanner)
{
    Sleeper child;
    ASSERT_GT(child.pid, 0);
    ServicePort managed =
        record(4211, "node", child.pid, std::nullopt, std::nullopt, "someone-else");
    managed.service = ServiceUnit{"node-api.service", ServiceUnit::Manager::system, {}, true};
    show({managed});

    Dialog seen;
    onDialog([&](QMessageBox* box) {
        seen = describe(box);
        QTest::mouseClick(button(box, "取消"), Qt::LeftButton);
    });
    clickTerminate(0);
    EXPECT_EQ(seen.windowTitle, QString("终止进程 node（PID %1）？").arg(child.pid));
    EXPECT_EQ(seen.title, seen.windowTitle);
    EXPECT_EQ(seen.message,
              "将停止占用端口 4211 的进程。\n"
              "该进程由 systemd 服务 node-api.service 管理，终止后可能会被自动重启。");
    EXPECT_EQ(seen.buttons, QStringList({"终止 (SIGTERM)", "强制终止 (SIGKILL)", "取消"}));
    EXPECT_EQ(seen.roles,
              QList<QMessageBox::ButtonRole>({QMessageBox::AcceptRole, QMessageBox::DestructiveRole,
                                              QMessageBox::RejectRole}));
    // Escape also cancels; the menu item, which shows the Delete key, opens the same
    // confirmation, and so does the key on the selected row.
    onMenu([&](QMenu* menu) {
        for (QAction* action : menu->actions()) {
            if (action->text() == "终止进程") {
                EXPECT_EQ(action->shortcut(), QKeySequence(Qt::Key_Delete));
            }
        }
        clickAction(menu, "终止进程");
    });
    onDialog([&](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    rightClickRow(0);
    Dialog byKey;
    onDialog([&](QMessageBox* box) {
        byKey = describe(box);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    clickRow(0);
    pressOnTable(Qt::Key_Delete);
    EXPECT_EQ(byKey.windowTitle, seen.windowTitle);
    QTest::qWait(100);
    EXPECT_FALSE(child.ended());
    EXPECT_EQ(banner(), nullptr);

    // The process is gone by the time the user confirms: the failure shows in the banner.
    ::kill(child.pid, SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return child.ended(); }));
    onDialog([&](QMessageBox* box) {
        QTest::mouseClick(button(box, "终止 (SIGTERM)"), Qt::LeftButton);
    });
    clickTerminate(0);
    ASSERT_TRUE(banner());
    EXPECT_EQ(banner()->message(), "进程不存在（可能已退出）。");
    EXPECT_TRUE(banner()->isVisible());

    QTest::mouseClick(banner()->findChild<QToolButton*>("errorBannerDismiss"), Qt::LeftButton);
    EXPECT_FALSE(view->store().lastError().has_value());
    QTest::qWait(0);
    EXPECT_EQ(banner(), nullptr);

    // An error that is present but empty still shows the banner.
    view->store().setLastError(QString());
    ASSERT_TRUE(banner());
    EXPECT_TRUE(banner()->message().isEmpty());
}

TEST_F(PortsScreen, BulkConfirmationCancelKeepsSelectionConfirmClearsIt)
{
    Sleeper first;
    Sleeper second;
    show({record(3000, "node", first.pid), record(5432, "postgres", second.pid),
          record(8080, "other")});
    clickRow(rowOf(3000));
    clickRow(rowOf(5432), Qt::ControlModifier);
    ASSERT_EQ(view->selection().size(), 2);

    // A row's terminate button leaves the selection as it was.
    Dialog single;
    onDialog([&](QMessageBox* box) {
        single = describe(box);
        QTest::mouseClick(button(box, "取消"), Qt::LeftButton);
    });
    clickTerminate(rowOf(8080));
    EXPECT_EQ(single.message, "将停止占用端口 8080 的进程。");
    EXPECT_EQ(table().selectionModel()->selectedRows().size(), 2);

    // Ctrl+C copies the selected rows under the column titles, in the table's order.
    pressOnTable(Qt::Key_C, Qt::ControlModifier);
    const QString login = Platform::loginName();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString("端口\t协议\t来源应用\t启动目录\tPID\t监听地址\t用户\n"
                      "3000\tTCP\tnode\t\t%1\t127.0.0.1\t%3\n"
                      "5432\tTCP\tpostgres\t\t%2\t127.0.0.1\t%3\n")
                  .arg(first.pid)
                  .arg(second.pid)
                  .arg(login));

    Dialog seen;
    onMenu([&](QMenu* menu) { clickAction(menu, "一键终止选中的 2 项"); });
    onDialog([&](QMessageBox* box) {
        seen = describe(box);
        QTest::mouseClick(button(box, "取消"), Qt::LeftButton);
    });
    rightClickRow(rowOf(5432));
    // Delete asks the same for the selected rows.
    Dialog byKey;
    onDialog([&](QMessageBox* box) {
        byKey = describe(box);
        QTest::mouseClick(button(box, "取消"), Qt::LeftButton);
    });
    pressOnTable(Qt::Key_Delete);
    EXPECT_EQ(byKey.title, "一键终止选中的 2 个进程？");
    EXPECT_EQ(seen.title, "一键终止选中的 2 个进程？");
    EXPECT_EQ(seen.windowTitle, seen.title);
    EXPECT_TRUE(seen.message == "涉及端口：3000, 5432" || seen.message == "涉及端口：5432, 3000")
        << seen.message.toStdString();
    EXPECT_EQ(seen.buttons, QStringList({"全部终止 (SIGTERM)", "全部强制终止 (SIGKILL)", "取消"}));
    EXPECT_EQ(seen.roles,
              QList<QMessageBox::ButtonRole>({QMessageBox::AcceptRole, QMessageBox::DestructiveRole,
                                              QMessageBox::RejectRole}));
    QTest::qWait(50);
    EXPECT_FALSE(first.ended());
    EXPECT_FALSE(second.ended());
    EXPECT_EQ(view->selection().size(), 2);
    EXPECT_EQ(table().selectionModel()->selectedRows().size(), 2);

    onMenu([&](QMenu* menu) { clickAction(menu, "一键终止选中的 2 项"); });
    onDialog([&](QMessageBox* box) {
        QTest::mouseClick(button(box, "全部强制终止 (SIGKILL)"), Qt::LeftButton);
    });
    rightClickRow(rowOf(3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.ended() && second.ended(); }));
    EXPECT_EQ(first.signal, SIGKILL);
    EXPECT_EQ(second.signal, SIGKILL);
    EXPECT_TRUE(view->selection().isEmpty());
    EXPECT_TRUE(table().selectionModel()->selectedRows().isEmpty());
}

TEST_F(PortsScreen, ContainerRowsShowTheirContainerWhichTheMenuAndTheConfirmationStop)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath("docker.sock");
    const QString api = "609be3616e3825a4bf83c6b624478dcec62ac2fac8e9811ee137a71eddce4ca0";
    const QString hostnet = "7af9ab73461484c6fe1df9636529a07b25d551debac5f81a4d8bba07484909fd";
    // The engine stops the API's container; the other one has gone meanwhile.
    StandInEngine engine(socket, [&](const StandInEngine::Request& request) {
        if (request.target == "/_ping")
            return StandInEngine::ping();
        return request.target.contains(api.toLatin1())
                   ? StandInEngine::json(204, "")
                   : StandInEngine::json(404, R"({"message":"No such container: hostnet"})");
    });
    using Containers::ContainerDescription;
    ServicePort proxy = record(8080, "docker-proxy");
    proxy.container = ContainerDescription{"shop/api", "shop-api:latest", api, socket};
    // Named by the process alone, as whoever started it chose: nothing to stop it through.
    ServicePort unlisted = record(9000, "conmon");
    unlisted.container =
        ContainerDescription{"ev\u202Eil", std::nullopt, std::nullopt, std::nullopt};
    ServicePort grafana = record(3000, "grafana");
    grafana.container =
        ContainerDescription{"hostnet", "grafana/grafana:10.4.2", hostnet, socket, true};
    show({proxy, unlisted, grafana, record(5432, "postgres")});

    EXPECT_EQ(column(Column::application),
              QStringList({"容器 hostnet", "postgres", "容器 shop/api", "容器 ev\\u202Eil"}));
    QStringList subtitles;
    QStringList symbols;
    for (int row = 0; row < model().rowCount(); ++row) {
        const QModelIndex cell = model().index(row, Column::application);
        subtitles.append(cell.data(PortsTableModel::SubtitleRole).toString());
        symbols.append(cell.data(PortsTableModel::SymbolRole).toString());
    }
    EXPECT_EQ(subtitles, QStringList({"grafana/grafana:10.4.2", "", "shop-api:latest", "conmon"}));
    EXPECT_EQ(symbols, QStringList({"shippingbox", "terminal", "shippingbox", "shippingbox"}));
    // Names and images are searched.
    for (const auto& [query, ports] : std::vector<std::pair<QString, QStringList>>{
             {"SHOP/", {"8080"}}, {"grafana:10", {"3000"}}, {"容器", {"3000", "8080", "9000"}}}) {
        view->store().setFilter(query);
        EXPECT_EQ(column(Column::port), ports) << query.toStdString();
    }
    view->store().setFilter("");

    // The menu stops a container an engine listed.
    EXPECT_EQ(menuItems(rowOf(8080)),
              QStringList({"复制端口号", "|", "终止进程", "停止容器 shop/api"}));
    EXPECT_EQ(menuItems(rowOf(9000)), QStringList({"复制端口号", "|", "终止进程"}));

    // The confirmation offers the container first, and says what ending a proxy does not do.
    std::vector<std::tuple<qint64, QString, QStringList>> confirmations{
        {8080,
         "\n该端口由容器 shop/api 提供，终止代理进程不会停止容器。",
         {"停止容器", "终止 (SIGTERM)", "强制终止 (SIGKILL)", "取消"}},
        {9000,
         "\n该端口由容器 ev\\u202Eil 提供，终止代理进程不会停止容器。",
         {"终止 (SIGTERM)", "强制终止 (SIGKILL)", "取消"}},
        // The container's own process is no proxy.
        {3000, "", {"停止容器", "终止 (SIGTERM)", "强制终止 (SIGKILL)", "取消"}},
    };
    for (const auto& [port, line, buttons] : confirmations) {
        Dialog seen;
        onDialog([&](QMessageBox* box) {
            seen = describe(box);
            if (QPushButton* stop = button(box, "停止容器")) {
                EXPECT_FALSE(stop->icon().isNull());
            }
            QTest::mouseClick(button(box, "取消"), Qt::LeftButton);
        });
        clickTerminate(rowOf(port));
        EXPECT_EQ(seen.message, QString("将停止占用端口 %1 的进程。").arg(port) + line);
        EXPECT_EQ(seen.buttons, buttons);
    }
    EXPECT_TRUE(engine.requests().isEmpty());

    // Stopped: the list is scanned again. Failed: the engine's words, after the name.
    scanned.removeFirst();
    onDialog([&](QMessageBox* box) { QTest::mouseClick(button(box, "停止容器"), Qt::LeftButton); });
    clickTerminate(rowOf(8080));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf(8080) < 0; }));
    EXPECT_EQ(
        engine.requests().value(1),
        (StandInEngine::Request{"POST", "/v1.45/containers/" + api.toLatin1() + "/stop?t=10"}));
    EXPECT_EQ(banner(), nullptr);
    onMenu([&](QMenu* menu) { clickAction(menu, "停止容器 hostnet"); });
    rightClickRow(rowOf(3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return banner() != nullptr; }));
    EXPECT_EQ(banner()->message(), "[hostnet] No such container: hostnet");
    EXPECT_GE(rowOf(3000), 0);
}

// The machine's own listeners, followed with no click: while one row stays selected and the
// table stays scrolled to the same row, a listener that a new process opens appears (tinted), and
// one that closes goes; the screen shows no scan in progress for any of it.
TEST_F(PortsScreen, ListenersComeAndGoWithNoClickWhileSelectionAndScrollHold)
{
    std::vector<std::pair<int, qint64>> own;
    for (int i = 0; i < 40; ++i)
        own.push_back(listener());
    std::sort(own.begin(), own.end(), [](auto& a, auto& b) { return a.second < b.second; });
    const qint32 self = static_cast<qint32>(::getpid());
    showMachine();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf(own.back().second, self) >= 0; }, 20000));
    QSignalSpy loading(&view->store(), &PortsStore::isLoadingChanged);

    const qint64 selected = own[30].second;
    const qint64 top = own[20].second;
    select(rowOf(selected, self));
    table().scrollTo(model().index(rowOf(top, self), 0), QAbstractItemView::PositionAtTop);
    ASSERT_EQ(table().rowAt(0), rowOf(top, self));
    auto holds = [&] {
        EXPECT_EQ(model().record(table().rowAt(0)).port, top);
        EXPECT_EQ(selectedPortsOf(table()), QSet<qint64>{selected});
    };

    const auto [fd, port] = listenBelow(top);
    ASSERT_GE(fd, 0);
    Sleeper newcomer(fd);
    sockets.close(fd);
    ASSERT_TRUE(waitForRow(port, newcomer.pid));
    holds();
    EXPECT_TRUE(model().index(rowOf(port, newcomer.pid), 0).data(Qt::BackgroundRole).isValid());

    sockets.close(own[5].first);
    ASSERT_TRUE(waitForRow(own[5].second, self, false));
    holds();
    EXPECT_EQ(loading.count(), 0);
}

// A menu and a confirmation left open while the screen follows the machine act on the process
// they named, wherever its row has gone meanwhile; the row goes once the process has ended.
TEST_F(PortsScreen, AConfirmationOpenAcrossAutomaticRefreshesTerminatesWhatItNamed)
{
    const auto [targetFd, targetPort] = listener();
    const auto [otherFd, otherPort] = listener();
    Sleeper target(targetFd);
    Sleeper bystander(otherFd);
    sockets.close(targetFd);
    sockets.close(otherFd);
    showMachine();
    ASSERT_TRUE(waitForRow(targetPort, target.pid));
    ASSERT_TRUE(waitForRow(otherPort, bystander.pid));
    QSignalSpy scans(&view->store(), &PortsStore::scanEnded);
    auto waitForScans = [&](int count) {
        const int before = scans.count();
        return QTest::qWaitFor([&] { return scans.count() >= before + count; }, 15000);
    };

    std::unique_ptr<Sleeper> newcomer;
    qint64 newPort = 0;
    QString title;
    onMenu([&](QMenu* menu) {
        EXPECT_TRUE(waitForScans(1));
        clickAction(menu, "终止进程");
    });
    onDialog([&](QMessageBox* box) {
        title = box->text();
        // A listener arrives whose row goes before the named one.
        const auto [fd, port] = listenBelow(targetPort);
        newcomer = std::make_unique<Sleeper>(fd);
        sockets.close(fd);
        newPort = port;
        EXPECT_TRUE(waitForRow(port, newcomer->pid));
        EXPECT_TRUE(waitForScans(1));
        QTest::mouseClick(button(box, "终止 (SIGTERM)"), Qt::LeftButton);
    });
    table().scrollTo(model().index(rowOf(targetPort, target.pid), 0));
    rightClickRow(rowOf(targetPort, target.pid));
    expectNoPendingHands();
    EXPECT_EQ(title, QString("终止进程 sleep（PID %1）？").arg(target.pid));
    ASSERT_TRUE(QTest::qWaitFor([&] { return target.ended(); }, 5000));
    EXPECT_EQ(target.signal, SIGTERM);
    EXPECT_FALSE(bystander.ended());
    EXPECT_FALSE(newcomer->ended());
    EXPECT_TRUE(waitForRow(targetPort, target.pid, false));
    EXPECT_GE(rowOf(newPort, newcomer->pid), 0);
    EXPECT_FALSE(view->store().lastError().has_value());
}

// Processes that ignore SIGTERM: after a while the banner names them and offers SIGKILL; a line
// goes by itself when its process ends, and the banner once none is left.
TEST_F(PortsScreen, AProcessThatOutlastsSigtermIsNamedAndItsButtonKillsIt)
{
    const auto [firstFd, firstPort] = listener();
    const auto [secondFd, secondPort] = listener();
    Sleeper first(firstFd, Sleeper::Term::ignored);
    Sleeper second(secondFd, Sleeper::Term::ignored);
    sockets.close(firstFd);
    sockets.close(secondFd);
    showMachine();
    ASSERT_TRUE(waitForRow(firstPort, first.pid));
    ASSERT_TRUE(waitForRow(secondPort, second.pid));
    select(rowOf(firstPort, first.pid));
    select(rowOf(secondPort, second.pid), Qt::ControlModifier);
    onMenu([&](QMenu* menu) { clickAction(menu, "一键终止选中的 2 项"); });
    onDialog([&](QMessageBox* box) {
        QTest::mouseClick(button(box, "全部终止 (SIGTERM)"), Qt::LeftButton);
    });
    rightClickRow(rowOf(secondPort, second.pid));
    expectNoPendingHands();

    const auto line = [](const Sleeper& child) {
        return QString("进程 %1（sleep）在 SIGTERM 后仍在运行。").arg(child.pid);
    };
    auto lines = [&] {
        const QStringList shown = banner() ? banner()->message().split('\n') : QStringList();
        return QSet<QString>(shown.begin(), shown.end());
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lines().isEmpty(); }, 10000));
    EXPECT_EQ(lines(), (QSet<QString>{line(first), line(second)}));
    EXPECT_FALSE(first.ended());
    EXPECT_FALSE(second.ended());
    auto* force = banner()->findChild<QToolButton*>("errorBannerAction");
    ASSERT_TRUE(force);
    EXPECT_EQ(force->text(), "强制终止 (SIGKILL)");
    EXPECT_FALSE(force->icon().isNull());

    ::kill(first.pid, SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines() == QSet<QString>{line(second)}; }, 10000));
    force = banner()->findChild<QToolButton*>("errorBannerAction");
    ASSERT_TRUE(force);
    QTest::mouseClick(force, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.ended(); }, 5000));
    EXPECT_EQ(second.signal, SIGKILL);
    EXPECT_TRUE(QTest::qWaitFor([&] { return banner() == nullptr; }, 5000));
    EXPECT_TRUE(waitForRow(secondPort, second.pid, false));
}

// A listener run by a service of a real systemd user manager, fenced into a cgroup of its own.
TEST_F(PortsScreen, AServicesListenerNamesItsServiceWhichTheMenuStops)
{
    if (const auto reason = SystemdSandbox::unavailableReason())
        GTEST_SKIP() << reason->toStdString();
    SystemdSandbox sandbox;
    ASSERT_TRUE(sandbox.isRunning()) << sandbox.error().toStdString();
    // A free port, closed again for the service to listen on.
    const qint64 port = TestSockets().open(AF_INET, SOCK_STREAM, true).second;
    ASSERT_GT(port, 0);
    sandbox.writeUnit("listener.service", QStringLiteral("[Service]\nExecStart=%1 listen %2\n"
                                                         "Restart=always\n")
                                              .arg(STORES_HELPER)
                                              .arg(port));
    sandbox.systemctl({"daemon-reload"});
    const auto started = sandbox.systemctl({"start", "listener.service"});
    ASSERT_EQ(started.status, 0) << started.stdErr.toStdString();
    SystemdServices::testing::setUserManager(sandbox.cgroupPath(), sandbox.busAddress());

    showMachine();
    // The helper's own row: other processes may listen on the same port at other addresses.
    auto helperRow = [&] {
        for (int row = 0; row < model().rowCount(); ++row) {
            if (model().record(row).port == port && model().record(row).command == "stores_helper")
                return row;
        }
        return -1;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return helperRow() >= 0; }, 20000));
    const ServicePort listed = model().record(helperRow());
    ASSERT_TRUE(listed.service);
    EXPECT_EQ(listed.service->name, "listener.service");
    EXPECT_EQ(listed.service->manager, ServiceUnit::Manager::user);
    EXPECT_TRUE(listed.service->restarts);
    EXPECT_TRUE(model()
                    .index(helperRow(), Column::application)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .endsWith("\nsystemd 服务：listener.service"));

    table().scrollTo(model().index(helperRow(), 0));
    onMenu([&](QMenu* menu) { clickAction(menu, "停止服务 listener.service"); });
    rightClickRow(helperRow());
    expectNoPendingHands();
    EXPECT_TRUE(QTest::qWaitFor([&] { return helperRow() < 0; }, 20000));
    EXPECT_FALSE(view->store().lastError().has_value()) << view->store().lastError()->toStdString();
    EXPECT_EQ(sandbox.systemctl({"is-active", "listener.service"}).stdOut.trimmed(), "inactive");
    EXPECT_TRUE(sandbox.tookOnlyItsOwnProcesses());
    SystemdServices::testing::setUserManager(sandbox.cgroupPath(), {});
    view.reset();
}

} // namespace

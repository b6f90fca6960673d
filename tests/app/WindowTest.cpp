// The window: its sidebar and keys, how it comes back as the user left it, and its tables'
// columns at the width it gives them.
#include "FakeLaunchd.h"
#include "JobsView.h"
#include "LaunchdSource.h"
#include "MainWindow.h"
#include "PortsTableModel.h"
#include "PortsView.h"
#include "Stores.h"
#include "TestSupport.h"
#include "ViewState.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

namespace {

using Tab = MainWindow::Tab;

const QString commonPortsKey = QStringLiteral("Tavlin.commonPorts");

QSettings settingsFile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrow"),
                     QStringLiteral("Kestrow"));
}

// Drags with the left button from one point of the widget to another.
void drag(QWidget* widget, QPoint from, QPoint to)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, from);
    QTest::mouseMove(widget, (from + to) / 2);
    QTest::mouseMove(widget, to);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, to);
    QCoreApplication::processEvents();
}

// Drags the right edge of a column by `by` pixels, as a person widens or narrows it.
void dragColumnEdge(QTableView& table, int column, int by)
{
    QHeaderView* header = table.horizontalHeader();
    const int edge = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
    const int y = header->height() / 2;
    drag(header->viewport(), QPoint(edge, y), QPoint(edge + by, y));
}

// Every column lies wholly inside the table's visible width, with no scroll bar to reach one.
void expectEveryColumnShown(QTableView& table)
{
    QHeaderView* header = table.horizontalHeader();
    EXPECT_FALSE(table.horizontalScrollBar()->isVisible()) << table.objectName().toStdString();
    for (int column = 0; column < header->count(); ++column) {
        const int left = header->sectionViewportPosition(column);
        EXPECT_GE(left, 0) << column;
        EXPECT_LE(left + header->sectionSize(column), table.viewport()->width())
            << table.model()->headerData(column, Qt::Horizontal).toString().toStdString();
    }
}

class WindowTest : public ::testing::Test {
protected:
    FakeLaunchd launchd;

    void SetUp() override
    {
        forgetViewState();
        // Enough jobs on the jobs screen for a vertical scroll bar beside the columns.
        QList<QStringList> table;
        for (int i = 0; i < 40; ++i) {
            const QString label =
                QStringLiteral("com.example.job%1").arg(i, 2, 10, QLatin1Char('0'));
            launchd.writeDefinition(0, label + ".plist",
                                    "<key>Label</key><string>" + label +
                                        "</string><key>Program</key><string>/usr/bin/job-" +
                                        QString::number(i) +
                                        "</string><key>StartCalendarInterval</key><dict>"
                                        "<key>Minute</key><integer>30</integer></dict>");
            table.append({i % 3 ? QStringLiteral("-") : QString::number(4000 + i), "0", label});
        }
        launchd.setTable(table);
        JobSources::testing::setFactory([] {
            JobSources::Sources sources;
            sources.push_back(std::make_unique<LaunchdSource>());
            return sources;
        });
    }

    void TearDown() override
    {
        JobSources::testing::setFactory({});
        QThreadPool::globalInstance()->waitForDone();
    }

    static std::unique_ptr<MainWindow> open()
    {
        auto window = std::make_unique<MainWindow>();
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return window;
    }

    static PortsView& ports(MainWindow& window)
    {
        auto* view = qobject_cast<PortsView*>(window.screen());
        EXPECT_TRUE(view);
        return *view;
    }

    static JobsView& jobs(MainWindow& window)
    {
        auto* view = qobject_cast<JobsView*>(window.screen());
        EXPECT_TRUE(view);
        return *view;
    }

    static QTableView& table(QWidget& screen) { return *screen.findChild<QTableView*>(); }

    static void waitForRows(JobsView& view)
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !view.store().isLoading() && table(view).model()->rowCount() > 0; },
            10000));
    }
};

TEST_F(WindowTest, SidebarAndTabSwitches)
{
    auto window = open();
    EXPECT_EQ(window->windowTitle(), "Kestrow");
    window->resize(500, 300);
    QApplication::processEvents();
    EXPECT_GE(window->width(), 1040);
    EXPECT_GE(window->height(), 560);

    QListWidget* sidebar = window->sidebar();
    auto clickTab = [&](int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, modifiers,
                          sidebar->visualItemRect(sidebar->item(row)).center());
    };
    QStringList titles;
    for (int row = 0; row < sidebar->count(); ++row) {
        titles.append(sidebar->item(row)->text());
        EXPECT_FALSE(sidebar->item(row)->icon().isNull());
    }
    EXPECT_EQ(titles, QStringList({"端口 / 服务", "定时任务", "设置"}));

    // The ports screen first, its row highlighted.
    EXPECT_EQ(window->selection(), Tab::ports);
    EXPECT_TRUE(sidebar->item(0)->isSelected());
    QPointer<PortsStore> firstStore = &ports(*window).store();
    QTest::keyClicks(&ports(*window).searchField(), "node");
    EXPECT_EQ(firstStore->filter(), "node");

    // Switching discards the screen and its store; coming back starts over.
    clickTab(2);
    EXPECT_EQ(window->selection(), Tab::settings);
    EXPECT_TRUE(firstStore.isNull());
    clickTab(0);
    EXPECT_TRUE(ports(*window).searchField().text().isEmpty());
    EXPECT_TRUE(ports(*window).store().filter().isEmpty());

    // With no row selected the ports screen shows.
    clickTab(1);
    clickTab(1, Qt::ControlModifier);
    EXPECT_EQ(window->selection(), std::nullopt);
    EXPECT_TRUE(qobject_cast<PortsView*>(window->screen()));
}

TEST_F(WindowTest, KeysSwitchSearchAndRefreshAndShowBesideTheirEntries)
{
    auto window = open();
    auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window.get(),
                        Qt::Key(key), modifiers);
    };

    // The menus list every key beside its entry; the sidebar rows and the buttons say theirs.
    QStringList entries;
    for (QAction* menu : window->menuBar()->actions()) {
        for (QAction* action : menu->menu()->actions()) {
            if (action->isSeparator())
                continue;
            EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
            QStringList keys;
            for (const QKeySequence& key : action->shortcuts())
                keys.append(key.toString());
            entries.append(menu->text() + ' ' + action->text() + ' ' + keys.join(','));
        }
    }
    // Quitting has the platform's own key, which some platforms leave out.
    const QString quit = QKeySequence(QKeySequence::Quit).toString();
    EXPECT_EQ(entries, QStringList({"文件 退出 " + quit, "编辑 复制 Ctrl+C", "编辑 搜索 Ctrl+F",
                                    "视图 端口 / 服务 Ctrl+1", "视图 定时任务 Ctrl+2",
                                    "视图 设置 Ctrl+3", "视图 刷新 F5,Ctrl+R"}));
    EXPECT_EQ(window->sidebar()->item(1)->toolTip(), "定时任务 (Ctrl+2)");

    // Ctrl+F puts the cursor in the search field with its text selected; Esc clears it.
    PortsView* portsView = &ports(*window);
    ASSERT_TRUE(waitUntilIdle(portsView->store()));
    std::atomic<int> scans = 0;
    portsView->store().setScannerForTesting([&] {
        ++scans;
        return QList<ServicePort>();
    });
    EXPECT_EQ(portsView->findChild<QToolButton*>("refresh")->toolTip(), "刷新 (F5 / Ctrl+R)");
    EXPECT_EQ(portsView->searchField().toolTip(), "搜索 (Ctrl+F)");
    portsView->searchField().setText("node");
    table(*portsView).setFocus();
    press(Qt::Key_F);
    EXPECT_TRUE(portsView->searchField().hasFocus());
    EXPECT_EQ(portsView->searchField().selectedText(), "node");
    press(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_TRUE(portsView->searchField().text().isEmpty());
    EXPECT_TRUE(portsView->store().filter().isEmpty());

    // F5 and Ctrl+R scan again, each once the scan before has ended.
    press(Qt::Key_F5, Qt::NoModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return scans == 1 && !portsView->store().isLoading(); }));
    press(Qt::Key_R);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scans == 2 && !portsView->store().isLoading(); }));

    // Ctrl+2: the jobs screen, whose list the same keys read again.
    press(Qt::Key_2);
    EXPECT_EQ(window->selection(), Tab::jobs);
    JobsView& jobsView = jobs(*window);
    waitForRows(jobsView);
    EXPECT_EQ(jobsView.findChild<QToolButton*>("refresh")->toolTip(), "刷新 (F5 / Ctrl+R)");
    const int listings = launchd.listCount();
    press(Qt::Key_F5, Qt::NoModifier);
    EXPECT_TRUE(jobsView.store().isLoading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !jobsView.store().isLoading(); }, 10000));
    press(Qt::Key_R);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !jobsView.store().isLoading(); }, 10000));
    EXPECT_EQ(launchd.listCount(), listings + 2);
    press(Qt::Key_F);
    EXPECT_TRUE(jobsView.searchField().hasFocus());
    QTest::keyClicks(&jobsView.searchField(), "job07");
    EXPECT_EQ(table(jobsView).model()->rowCount(), 1);
    press(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_EQ(table(jobsView).model()->rowCount(), 40);
    // The menu's 复制 copies what Ctrl+C on the table copies.
    table(jobsView).selectRow(7);
    window->findChild<QAction*>("copy")->trigger();
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("名称\tLabel\t调度"));
    EXPECT_TRUE(QApplication::clipboard()->text().contains("\tcom.example.job07\t"));

    // The settings screen has nothing to search or read again: the keys leave it as it is.
    press(Qt::Key_3);
    EXPECT_EQ(window->selection(), Tab::settings);
    press(Qt::Key_F5, Qt::NoModifier);
    press(Qt::Key_F);
    EXPECT_EQ(window->selection(), Tab::settings);
    press(Qt::Key_1);
    EXPECT_EQ(window->selection(), Tab::ports);
    EXPECT_TRUE(window->sidebar()->item(0)->isSelected());
}

// Two windows one after the other over the same settings file, as two runs of the program.
TEST_F(WindowTest, ComesBackAsTheUserLeftIt)
{
    const QByteArray commonPorts = R"([{"port":3000,"note":"web"}])";
    settingsFile().setValue(commonPortsKey, commonPorts);
    // The width of the jobs table's name column before the user widened it.
    int name = 0;
    {
        auto window = open();
        EXPECT_EQ(window->size(), MainWindow::defaultSize);
        window->resize(1300, 800);
        window->move(40, 30);
        // The handle moves with the drag: one step, so that the end point means what it says.
        QSplitterHandle* handle = qobject_cast<QSplitter*>(window->centralWidget())->handle(1);
        EXPECT_EQ(window->sidebar()->width(), MainWindow::defaultSidebarWidth);
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(2, 100));
        QTest::mouseMove(handle, QPoint(22, 100));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(2, 100));
        EXPECT_EQ(window->sidebar()->width(), 200);

        PortsView& portsView = ports(*window);
        QHeaderView* header = table(portsView).horizontalHeader();
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(PortsTableModel::pid) + 10,
                                     header->height() / 2));
        }
        dragColumnEdge(table(portsView), PortsTableModel::port, 15);
        EXPECT_EQ(header->sectionSize(PortsTableModel::port), 85);
        portsView.findChild<QCheckBox*>("commonOnly")->click();
        portsView.findChild<QCheckBox*>("autoRefresh")->click();

        window->select(Tab::jobs);
        JobsView& jobsView = jobs(*window);
        jobsView.findChild<QCheckBox*>("runningOnly")->click();
        jobsView.findChild<QCheckBox*>("hideSystemJobs")->click();
        name = table(jobsView).horizontalHeader()->sectionSize(1);
        dragColumnEdge(table(jobsView), 1, 30);
        EXPECT_EQ(table(jobsView).horizontalHeader()->sectionSize(1), name + 30);
        window->close();
    }
    {
        auto second = open();
        EXPECT_EQ(second->size(), QSize(1300, 800));
        EXPECT_EQ(second->pos(), QPoint(40, 30));
        EXPECT_EQ(second->sidebar()->width(), 200);
        second->select(Tab::jobs);
        JobsView& jobsAgain = jobs(*second);
        EXPECT_TRUE(jobsAgain.store().runningOnly());
        EXPECT_FALSE(jobsAgain.store().hideSystemJobs());
        EXPECT_TRUE(jobsAgain.findChild<QCheckBox*>("runningOnly")->isChecked());
        EXPECT_EQ(table(jobsAgain).horizontalHeader()->sectionSize(1), name + 30);
        second->select(Tab::ports);
        PortsView& portsAgain = ports(*second);
        EXPECT_TRUE(portsAgain.store().commonOnly());
        EXPECT_TRUE(portsAgain.findChild<QCheckBox*>("commonOnly")->isChecked());
        EXPECT_FALSE(portsAgain.findChild<QCheckBox*>("autoRefresh")->isChecked());
        const auto sort = portsAgain.model().sortOrder();
        ASSERT_FALSE(sort.isEmpty());
        EXPECT_EQ(sort.first().column, PortsTableModel::pid);
        EXPECT_EQ(sort.first().order, Qt::DescendingOrder);
        QHeaderView* sorted = table(portsAgain).horizontalHeader();
        EXPECT_EQ(sorted->sortIndicatorSection(), PortsTableModel::pid);
        EXPECT_EQ(sorted->sortIndicatorOrder(), Qt::DescendingOrder);
        EXPECT_EQ(sorted->sectionSize(PortsTableModel::port), 85);
        // Left maximised, it keeps the size and place to come back to from there.
        second->showMaximized();
        second->close();
        EXPECT_EQ(settingsFile().value("window/size").toSize(), QSize(1300, 800));
        EXPECT_EQ(settingsFile().value("window/position").toPoint(), QPoint(40, 30));
    }
    {
        auto third = open();
        EXPECT_TRUE(third->isMaximized());
        EXPECT_EQ(third->normalGeometry().size(), QSize(1300, 800));
        third->close();
    }
    // The common-ports list is where and as it was.
    EXPECT_EQ(settingsFile().value(commonPortsKey).toByteArray(), commonPorts);
}

TEST_F(WindowTest, ADamagedValueFallsBackToItsDefault)
{
    struct Look {
        QSize size;
        QPoint position;
        bool maximized;
        int sidebar;
        QList<PortsTableModel::SortKey> sort;
        QList<int> portWidths;
        bool commonOnly;
        bool autoRefresh;
        bool operator==(const Look&) const = default;
    };
    auto look = [&] {
        auto window = open();
        QTableView& portsTable = table(*window->screen());
        QList<int> widths;
        for (int column = 0; column < PortsTableModel::columns; ++column)
            widths.append(portsTable.horizontalHeader()->sectionSize(column));
        const Look seen{window->size(),
                        window->pos(),
                        window->isMaximized(),
                        window->sidebar()->width(),
                        qobject_cast<PortsView*>(window->screen())->model().sortOrder(),
                        widths,
                        window->screen()->findChild<QCheckBox*>("commonOnly")->isChecked(),
                        window->screen()->findChild<QCheckBox*>("autoRefresh")->isChecked()};
        window->close();
        return seen;
    };
    auto jobsFlags = [] {
        JobsView view;
        return std::pair(view.store().runningOnly(), view.store().hideSystemJobs());
    };
    const Look defaults = look();
    const auto jobsDefaults = jobsFlags();

    const QList<std::pair<const char*, QVariant>> damaged = {
        {"window/size", "wide"},
        {"window/size", QSize(0, 700)},
        {"window/position", "here"},
        {"window/position", QPoint(-60000, -60000)},
        {"window/maximized", "often"},
        {"window/sidebarWidth", "200px"},
        {"window/sidebarWidth", 900},
        {"ports/sortColumn", "action"},
        {"ports/sortOrder", "upward"},
        {"ports/columnWidths/port", 5},
        {"ports/columnWidths/port", "wide"},
        {"ports/commonOnly", "maybe"},
        {"ports/autoRefresh", "off"},
        {"jobs/runningOnly", 2},
        {"jobs/hideSystemJobs", "no"},
    };
    for (const auto& [key, value] : damaged) {
        forgetViewState();
        settingsFile().setValue(key, value);
        // A sort column comes with its order: only the damaged one of the two is wrong.
        if (QByteArray(key) == "ports/sortColumn")
            settingsFile().setValue("ports/sortOrder", "descending");
        if (QByteArray(key) == "ports/sortOrder")
            settingsFile().setValue("ports/sortColumn", "pid");
        const std::string what = key + std::string(" = ") + value.toString().toStdString();
        if (QByteArray(key).startsWith("jobs/"))
            EXPECT_EQ(jobsFlags(), jobsDefaults) << what;
        else
            EXPECT_TRUE(look() == defaults) << what;
    }
}

// At the size of a first start both tables show every column with room to spare; narrower,
// the columns give up width before a scroll bar comes; a width the user dragged stays.
TEST_F(WindowTest, EveryColumnShowsAtTheDefaultSizeAndADraggedWidthStays)
{
    auto window = open();
    ASSERT_EQ(window->size(), MainWindow::defaultSize);
    QTableView& portsTable = table(ports(*window));
    expectEveryColumnShown(portsTable);

    window->select(Tab::jobs);
    JobsView& jobsView = jobs(*window);
    waitForRows(jobsView);
    QTableView& jobsTable = table(jobsView);
    QCoreApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitFor([&] { return jobsTable.verticalScrollBar()->isVisible(); }));
    expectEveryColumnShown(jobsTable);
    // The buttons of a row fit their column.
    const int actions = jobsTable.model()->columnCount() - 1;
    QWidget* cell = jobsTable.indexWidget(jobsTable.model()->index(0, actions));
    ASSERT_TRUE(cell);
    EXPECT_LE(cell->sizeHint().width(), jobsTable.horizontalHeader()->sectionSize(actions));

    // The user widens the name column: it keeps that width as the window narrows and widens.
    QHeaderView* header = jobsTable.horizontalHeader();
    const int wider = header->sectionSize(1) + 40;
    dragColumnEdge(jobsTable, 1, 40);
    EXPECT_EQ(header->sectionSize(1), wider);
    QCoreApplication::processEvents();
    expectEveryColumnShown(jobsTable);
    window->resize(MainWindow::smallestSize);
    QCoreApplication::processEvents();
    EXPECT_EQ(header->sectionSize(1), wider);
    EXPECT_TRUE(jobsTable.horizontalScrollBar()->isVisible());
    window->resize(MainWindow::defaultSize + QSize(400, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(header->sectionSize(1), wider);
    expectEveryColumnShown(jobsTable);
    EXPECT_EQ(header->sectionViewportPosition(actions) + header->sectionSize(actions),
              jobsTable.viewport()->width())
        << "the spare width goes to a column, not to an empty strip";
}

// The program itself, run twice over a settings file with good and damaged values: each run
// starts as the file says, falls back where a value is damaged, and on SIGTERM closes its window
// as the close button does, writing how it was left.
TEST(RealProgram, TwoRunsKeepWhatWasLeftAndMendDamagedValues)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString config = home.filePath(".config");
    const QString file = config + "/Kestrow/Kestrow.conf";
    const QByteArray commonPorts = R"([{"port":5173,"note":"Vite"}])";
    {
        QSettings seed(file, QSettings::IniFormat);
        seed.setValue(commonPortsKey, commonPorts);
        seed.setValue("window/size", QSize(1200, 700));
        seed.setValue("window/position", QPoint(30, 20));
        seed.setValue("window/maximized", "often");
        seed.setValue("window/sidebarWidth", 200);
        seed.setValue("ports/sortColumn", "pid");
        seed.setValue("ports/sortOrder", "descending");
        seed.setValue("ports/columnWidths/port", 85);
        seed.setValue("ports/columnWidths/user", "wide");
        seed.setValue("ports/commonOnly", true);
        seed.setValue("ports/autoRefresh", false);
    }

    auto run = [&] {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", config);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.start(KESTROW_PROGRAM, {});
        ASSERT_TRUE(program.waitForStarted());
        // Ready once it catches SIGTERM; the window it then opens closes on the first one.
        const QString status = QString("/proc/%1/status").arg(program.processId());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                QFile proc(status);
                if (!proc.open(QIODevice::ReadOnly))
                    return false;
                for (const QByteArray& line : proc.readAll().split('\n')) {
                    if (line.startsWith("SigCgt:")) {
                        const quint64 caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
                        return ((caught >> (SIGTERM - 1)) & 1) == 1;
                    }
                }
                return false;
            },
            30000));
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit)
            << program.readAllStandardError().toStdString();
        EXPECT_EQ(program.exitCode(), 0);
    };
    auto stored = [&] {
        QSettings settings(file, QSettings::IniFormat);
        QVariantMap values;
        for (const QString& key : settings.allKeys())
            values.insert(key, settings.value(key));
        return values;
    };

    run();
    const QVariantMap first = stored();
    EXPECT_EQ(first.value(commonPortsKey).toByteArray(), commonPorts);
    EXPECT_EQ(first.value("window/size").toSize(), QSize(1200, 700));
    EXPECT_EQ(first.value("window/position").toPoint(), QPoint(30, 20));
    EXPECT_EQ(first.value("window/maximized"), "false");
    EXPECT_EQ(first.value("window/sidebarWidth"), "200");
    EXPECT_EQ(first.value("ports/sortColumn"), "pid");
    EXPECT_EQ(first.value("ports/sortOrder"), "descending");
    EXPECT_EQ(first.value("ports/columnWidths/port"), "85");
    EXPECT_FALSE(first.contains("ports/columnWidths/user"));
    EXPECT_EQ(first.value("ports/commonOnly"), "true");
    EXPECT_EQ(first.value("ports/autoRefresh"), "false");

    run();
    EXPECT_EQ(stored(), first);
}

} // namespace

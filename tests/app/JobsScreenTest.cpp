// The scheduled-jobs screen over a launchctl stand-in and definition files on disk.
#include "FakeLaunchd.h"
#include "JobsScreenReader.h"

#include "ErrorBanner.h"
#include "JobsView.h"
#include "LaunchdSource.h"
#include "Stores.h"
#include "Style.h"
#include "TestSupport.h"
#include "platform/Platform.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class JobsScreen : public ::testing::Test, protected JobsScreenReader {
protected:
    FakeLaunchd launchd;
    const QString uid = QString::number(Platform::realUserId());

    void SetUp() override
    {
        forgetViewState();
        launchd.writeDefinition(
            0, "sync.plist",
            "<key>Label</key><string>com.example.sync-agent</string>"
            "<key>ProgramArguments</key><array><string>/usr/bin/rsync</string>"
            "<string>-a</string><string>/srv/photos/</string>"
            "<string>/mnt/backup/photos/</string></array>"
            "<key>StartCalendarInterval</key><dict><key>Hour</key>"
            "<integer>3</integer><key>Minute</key><integer>15</integer></dict>");
        launchd.writeDefinition(2, "com.example.backup.plist",
                                "<key>Label</key><string>com.example.backup</string>"
                                "<key>Program</key><string>/usr/local/bin/backup</string>"
                                "<key>StartInterval</key><integer>3600</integer>");
        launchd.writeDefinition(3, "com.apple.cleanup.plist",
                                "<key>Label</key><string>com.apple.cleanup</string>"
                                "<key>Program</key><string>/usr/libexec/cleanup</string>"
                                "<key>StartInterval</key><integer>60</integer>");
        launchd.writeDefinition(0, "com.example.watcher.plist",
                                "<key>Label</key><string>com.example.watcher</string>"
                                "<key>Program</key><string>/usr/bin/watcher</string>");
        launchd.setTable({{"4242", "0", "com.example.sync-agent"},
                          {"-", "-9", "com.example.backup"},
                          {"-", "0", "com.apple.cleanup"},
                          {"77", "0", "com.example.watcher"},
                          {"-", "0", "local.orphan"}});
        JobSources::Sources sources;
        sources.push_back(std::make_unique<LaunchdSource>());
        view = std::make_unique<JobsView>(std::make_shared<JobsStore>(std::move(sources)));
        // No listing but those a test asks for, unless it polls.
        view->setPollInterval(std::chrono::hours(1));
        view->resize(1300, 500);
        view->show();
        waitForListing(1);
    }

    void waitForListing(int count)
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return launchd.listCount() >= count && !view->store().isLoading(); }, 10000));
        QCoreApplication::processEvents();
    }

    QString summary() { return view->findChild<QLabel*>("summary")->text(); }
    ErrorBanner* banner() { return view->findChild<ErrorBanner*>("errorBanner"); }
};

TEST_F(JobsScreen, ShowsScheduledJobsWithTheirStateAndButtons)
{
    // Only the two scheduled jobs not shipped with the system, ordered by label.
    ASSERT_EQ(model().rowCount(), 2);
    EXPECT_EQ(cell(0, name, labelRole), "com.example.backup");
    EXPECT_EQ(cell(1, name, labelRole), "com.example.sync-agent");
    EXPECT_EQ(summary(), "共 2 个定时任务 · 1 个运行中");
    EXPECT_EQ(view->findChild<QLabel*>("hint")->text(), "仅显示带调度（周期/间隔）的 launchd 任务");

    QStringList titles;
    for (int column = 0; column < model().columnCount(); ++column)
        titles << model().headerData(column, Qt::Horizontal).toString();
    EXPECT_EQ(titles, QStringList({"状态", "名称", "调度", "下次运行", "程序 / 命令", "域", "状态",
                                   "操作"}));

    const QPalette palette = QGuiApplication::palette();
    const int running = rowOf("com.example.sync-agent");
    EXPECT_EQ(cell(running, name), "sync agent");
    EXPECT_EQ(cell(running, name, Qt::AccessibleTextRole), "sync agent\ncom.example.sync-agent");
    EXPECT_EQ(cell(running, schedule), "每天 03:15");
    // Today or tomorrow at 03:15, whichever comes first; launchd does not tell the last run.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime next = now.time() < QTime(3, 15)
                               ? QDateTime(now.date(), QTime(3, 15))
                               : QDateTime(now.date().addDays(1), QTime(3, 15));
    EXPECT_EQ(cell(running, nextRun), (next.date() == now.date() ? "今天 03:15" : "明天 03:15"));
    EXPECT_EQ(cell(running, nextRun, Qt::ToolTipRole), next.toString("yyyy-MM-dd") + " 03:15:00");
    EXPECT_EQ(cell(running, program), "/usr/bin/rsync -a /srv/photos/ /mnt/backup/photos/");
    EXPECT_EQ(cell(running, domain), "用户 Agent");
    EXPECT_EQ(cell(running, status), "运行中 (PID 4242)");
    EXPECT_EQ(cell(running, dot, Qt::DecorationRole).value<QColor>(), Style::green());
    EXPECT_EQ(cell(running, status, Qt::ForegroundRole).value<QColor>(), Style::primary(palette));

    const int stopped = rowOf("com.example.backup");
    EXPECT_EQ(cell(stopped, nextRun), "—");
    EXPECT_FALSE(cell(stopped, nextRun, Qt::ToolTipRole).isValid());
    EXPECT_EQ(cell(stopped, status), "已停止 (退出码 -9)");
    EXPECT_LT(cell(stopped, dot, Qt::DecorationRole).value<QColor>().alphaF(), 0.5);
    EXPECT_EQ(cell(stopped, status, Qt::ForegroundRole).value<QColor>(), Style::secondary(palette));

    // Start or stop by the job's state; a job with a definition file offers all four others.
    const struct {
        int row;
        const char *shown, *hidden, *text, *tip;
    } states[] = {{running, "stop", "start", "停止", "停止运行（保持已加载）"},
                  {stopped, "start", "stop", "启动", "立即启动"}};
    for (const auto& [row, shown, hidden, text, tip] : states) {
        ASSERT_TRUE(button(row, shown));
        EXPECT_EQ(button(row, shown)->text(), text);
        EXPECT_EQ(button(row, shown)->toolTip(), tip);
        EXPECT_FALSE(button(row, hidden));
        EXPECT_EQ(button(row, "unload")->toolTip(), "卸载（bootout）");
        EXPECT_EQ(button(row, "load")->toolTip(), "从 plist 加载（bootstrap）");
        EXPECT_EQ(button(row, "open")->toolTip(), "打开配置文件");
        EXPECT_EQ(button(row, "reveal")->toolTip(), "在 Finder 中显示");
        EXPECT_TRUE(button(row, "load")->text().isEmpty());
        for (const char* which : {shown, "unload", "load", "open", "reveal"}) {
            EXPECT_FALSE(button(row, which)->icon().isNull()) << which;
            EXPECT_TRUE(button(row, which)
                            ->accessibleName()
                            .endsWith(cell(row, name, labelRole).toString()))
                << which;
        }
    }

    // Ctrl+C copies the selected job under the column titles, the next run in full.
    table().selectRow(running);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    table().setFocus();
    QTest::keyClick(&table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "名称\tLabel\t调度\t下次运行\t程序 / 命令\t域\t状态\n"
              "sync agent\tcom.example.sync-agent\t每天 03:15\t" +
                  next.toString("yyyy-MM-dd HH:mm") +
                  "\t/usr/bin/rsync -a /srv/photos/ /mnt/backup/photos/\t用户 Agent\t运行中 (PID "
                  "4242)\n");

    // The program line opens as a read-only field holding the whole text, ready to copy.
    table().edit(model().index(running, program));
    auto* field = table().findChild<QLineEdit*>("programField");
    ASSERT_TRUE(field);
    EXPECT_TRUE(field->isReadOnly());
    EXPECT_EQ(field->text(), "/usr/bin/rsync -a /srv/photos/ /mnt/backup/photos/");
}

TEST_F(JobsScreen, FiltersNarrowTheRowsAndCountsWithoutReloading)
{
    const int listings = launchd.listCount();
    auto* runningOnly = view->findChild<QCheckBox*>("runningOnly");
    auto* hideSystem = view->findChild<QCheckBox*>("hideSystemJobs");
    auto* search = view->findChild<QLineEdit*>("search");
    EXPECT_FALSE(runningOnly->isChecked());
    EXPECT_TRUE(hideSystem->isChecked());
    EXPECT_EQ(hideSystem->text(), "隐藏系统自带项");
    EXPECT_EQ(search->placeholderText(), "搜索名称 / Label");

    runningOnly->click();
    EXPECT_EQ(model().rowCount(), 1);
    EXPECT_EQ(summary(), "共 1 个定时任务 · 1 个运行中");
    runningOnly->click();

    hideSystem->click();
    EXPECT_FALSE(view->store().hideSystemJobs());
    EXPECT_EQ(model().rowCount(), 3);
    EXPECT_GE(rowOf("com.apple.cleanup"), 0);
    EXPECT_EQ(summary(), "共 3 个定时任务 · 1 个运行中");

    // Each keystroke filters: the program line matches "rsync".
    QTest::keyClicks(search, "RSY");
    EXPECT_EQ(view->store().filter(), "RSY");
    EXPECT_EQ(model().rowCount(), 1);
    EXPECT_EQ(cell(0, name, labelRole), "com.example.sync-agent");

    search->clear();
    QTest::keyClicks(search, "no such job");
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_EQ(summary(), "共 0 个定时任务 · 0 个运行中");

    EXPECT_EQ(launchd.listCount(), listings);
}

TEST_F(JobsScreen, FailedActionShowsBannerAndDoesNotReload)
{
    launchd.failWith("kickstart", "Could not find service in domain\n");
    launchd.failWith("start", "");
    const int listings = launchd.listCount();

    button(rowOf("com.example.backup"), "start")->click();

    ASSERT_TRUE(QTest::qWaitFor([&] { return banner() != nullptr; }, 10000));
    EXPECT_EQ(banner()->message(), "[com.example.backup] Could not find service in domain");
    QTest::qWait(300);
    EXPECT_EQ(launchd.listCount(), listings);

    // A later failure replaces the text; dismissing clears it.
    launchd.failWith("bootout", "");
    launchd.failWith("unload", "");
    button(rowOf("com.example.backup"), "unload")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return banner()->message() == "[com.example.backup] 操作失败（可能需要管理员权限）。";
        },
        10000));
    banner()->findChild<QToolButton*>("errorBannerDismiss")->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->store().lastError().has_value());
    EXPECT_TRUE(QTest::qWaitFor([&] { return banner() == nullptr; }, 2000));
}

TEST_F(JobsScreen, SucceededActionClearsBannerAndReloadsKeepingTheSelection)
{
    view->store().setLastError(QStringLiteral("[x] earlier failure"));
    ASSERT_TRUE(banner());
    table().selectRow(rowOf("com.example.backup"));
    const int listings = launchd.listCount();
    launchd.setTable({{"-", "0", "com.example.sync-agent"}, {"-", "-9", "com.example.backup"}});

    button(rowOf("com.example.sync-agent"), "stop")->click();

    waitForListing(listings + 1);
    EXPECT_TRUE(launchd.calls().contains("kill SIGTERM gui/" + uid + "/com.example.sync-agent"));
    EXPECT_FALSE(view->store().lastError().has_value());
    EXPECT_TRUE(QTest::qWaitFor([&] { return banner() == nullptr; }, 2000));
    // The reloaded row has stopped, so it now offers to start; the other stays selected.
    const int row = rowOf("com.example.sync-agent");
    ASSERT_GE(row, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return button(row, "start") != nullptr; }, 2000));
    EXPECT_EQ(summary(), "共 2 个定时任务 · 0 个运行中");
    const QModelIndexList selected = table().selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().row(), rowOf("com.example.backup"));
}

// launchctl that does not come back: the row says what it waits for and offers nothing else,
// while the rest of the window goes on answering.
TEST_F(JobsScreen, HangingLaunchctlLeavesTheWindowResponsive)
{
    launchd.hangOn("kickstart");
    const int row = rowOf("com.example.backup");
    button(row, "start")->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return launchd.calls().filter("kickstart").size() == 1; }, 10000));
    EXPECT_EQ(cell(row, status), "正在启动…");
    for (const char* which : {"start", "unload", "load", "open", "reveal"})
        EXPECT_FALSE(button(row, which)->isEnabled()) << which;
    EXPECT_TRUE(button(rowOf("com.example.sync-agent"), "stop")->isEnabled());

    auto* search = view->findChild<QLineEdit*>("search");
    QTest::keyClicks(search, "sync");
    EXPECT_EQ(model().rowCount(), 1);
    search->clear();
    const int listings = launchd.listCount();
    view->findChild<QToolButton*>("refresh")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view->store().isLoading(); }, 10000))
        << "listing goes on beside the hung action";
    EXPECT_GT(launchd.listCount(), listings);
    EXPECT_EQ(cell(rowOf("com.example.backup"), status), "正在启动…");

    launchd.release();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return cell(rowOf("com.example.backup"), status) == "已停止 (退出码 -9)"; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return button(rowOf("com.example.backup"), "start") &&
                   button(rowOf("com.example.backup"), "start")->isEnabled();
        },
        2000));
}

TEST_F(JobsScreen, LoadingStateAndReloadOnEveryShow)
{
    auto* refresh = view->findChild<QToolButton*>("refresh");
    EXPECT_TRUE(refresh->isEnabled());

    view->store().setIsLoading(true);
    EXPECT_FALSE(refresh->isEnabled());
    EXPECT_EQ(summary(), "正在读取…");
    EXPECT_TRUE(view->findChild<QWidget*>("spinner")->isVisible());
    view->store().setIsLoading(false);
    EXPECT_FALSE(view->findChild<QWidget*>("spinner")->isVisible());
    EXPECT_EQ(summary(), "共 2 个定时任务 · 1 个运行中");

    const int listings = launchd.listCount();
    refresh->click();
    waitForListing(listings + 1);

    view->hide();
    view->show();
    waitForListing(listings + 2);
    EXPECT_EQ(model().rowCount(), 2);
}

// launchctl cannot tell of changes: the screen lists it again by itself while it is on screen,
// without the spinner, with the selection, the current row and the scroll position in place.
TEST_F(JobsScreen, ListsLaunchdAgainQuietlyWhileOnScreen)
{
    QList<QStringList> rows = {{"4242", "0", "com.example.sync-agent"},
                               {"-", "-9", "com.example.backup"}};
    auto addJob = [&](const QString& label) {
        launchd.writeDefinition(0, label + ".plist",
                                "<key>Label</key><string>" + label +
                                    "</string><key>Program</key><string>/bin/true</string>"
                                    "<key>StartInterval</key><integer>600</integer>");
        rows.append({"-", "0", label});
    };
    for (int i = 0; i < 30; ++i)
        addJob(QString("com.example.job%1").arg(i, 2, 10, QChar('0')));
    launchd.setTable(rows);
    view->resize(1300, 300);
    view->findChild<QToolButton*>("refresh")->click();
    waitForListing(2);
    ASSERT_EQ(model().rowCount(), 32);
    table().selectRow(rowOf("com.example.job25"));
    table().scrollToBottom();
    const int scroll = table().verticalScrollBar()->value();
    ASSERT_GT(scroll, 0);

    // A job stops and another comes at the end; the screen shows both by itself.
    rows[0][0] = "-";
    addJob("com.example.zz-new");
    launchd.setTable(rows);
    QSignalSpy loading(&view->store(), &JobsStore::isLoadingChanged);
    const int before = launchd.listCount();
    view->setPollInterval(std::chrono::milliseconds(100));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return launchd.listCount() >= before + 2 && rowOf("com.example.zz-new") >= 0; },
        10000));
    EXPECT_EQ(loading.count(), 0);
    EXPECT_EQ(summary(), "共 33 个定时任务 · 0 个运行中");
    // The row that came by itself is tinted for a moment; those the user's refresh brought not.
    EXPECT_TRUE(cellOf("com.example.zz-new", name, Qt::BackgroundRole).isValid());
    EXPECT_FALSE(cellOf("com.example.job25", name, Qt::BackgroundRole).isValid());
    const QModelIndexList selected = table().selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(cell(selected.first().row(), name, labelRole), "com.example.job25");
    EXPECT_EQ(cell(table().currentIndex().row(), name, labelRole), "com.example.job25");
    EXPECT_EQ(table().verticalScrollBar()->value(), scroll);

    // Hidden or minimised, it lists nothing; back on screen, it lists at once.
    auto listingsDuring = [&](int ms) {
        const int count = launchd.listCount();
        QTest::qWait(ms);
        return launchd.listCount() - count;
    };
    view->hide();
    EXPECT_EQ(listingsDuring(400), 0);
    view->show();
    view->showMinimized();
    QTest::qWait(150);
    EXPECT_EQ(listingsDuring(400), 0);
    const int minimised = launchd.listCount();
    view->showNormal();
    EXPECT_TRUE(QTest::qWaitFor([&] { return launchd.listCount() > minimised; }, 2000));

    // A listing that does not end holds back the next ones, which go on once it has ended.
    launchd.hangOn("list");
    QTest::qWait(300);
    EXPECT_EQ(listingsDuring(500), 0);
    EXPECT_FALSE(view->store().isLoading());
    const int held = launchd.listCount();
    launchd.release();
    EXPECT_TRUE(QTest::qWaitFor([&] { return launchd.listCount() > held; }, 5000));
}

TEST_F(JobsScreen, FaintTextsFollowASwitchToADarkPalette)
{
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Window, QColor(40, 40, 42));
    // Widgets hear of a new application palette through a posted event.
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    auto* hint = view->findChild<QLabel*>("hint");
    const QColor shown = hint->palette().color(QPalette::WindowText);
    QApplication::setPalette(light);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, Style::tertiary(dark));
    EXPECT_EQ(hint->palette().color(QPalette::WindowText), Style::tertiary(light));
}

} // namespace

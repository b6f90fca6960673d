// The scheduled-jobs screen over a fake launchctl and definition files on disk.
#include "FakeLaunchd.h"

#include "ErrorBanner.h"
#include "LaunchdView.h"
#include "Stores.h"
#include "Style.h"
#include "platform/Platform.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

enum Column { dot, name, schedule, program, domain, status, actions };

class JobsScreen : public ::testing::Test {
protected:
    FakeLaunchd launchd;
    std::unique_ptr<LaunchdView> view;
    const QString uid = QString::number(Platform::realUserId());

    void SetUp() override
    {
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
        view = std::make_unique<LaunchdView>();
        view->resize(1100, 500);
        view->show();
        waitForListing(1);
    }

    void waitForListing(int count)
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return launchd.listCount() >= count && !view->store().isLoading(); }, 10000));
        QCoreApplication::processEvents();
    }

    QTableView& table() { return *view->findChild<QTableView*>("jobs"); }
    QAbstractItemModel& model() { return *table().model(); }
    QVariant cell(int row, int column, int role = Qt::DisplayRole)
    {
        return model().data(model().index(row, column), role);
    }
    int rowOf(const QString& label)
    {
        for (int row = 0; row < model().rowCount(); ++row) {
            if (cell(row, name, Qt::UserRole + 1).toString() == label)
                return row;
        }
        return -1;
    }
    QToolButton* button(int row, const char* which)
    {
        table().scrollTo(model().index(row, actions));
        QWidget* cellWidget = table().indexWidget(model().index(row, actions));
        return cellWidget ? cellWidget->findChild<QToolButton*>(which) : nullptr;
    }
    QString summary() { return view->findChild<QLabel*>("summary")->text(); }
    ErrorBanner* banner() { return view->findChild<ErrorBanner*>("errorBanner"); }
};

TEST_F(JobsScreen, ShowsScheduledJobsWithTheirStateAndButtons)
{
    // Only the two scheduled, non-Apple jobs, ordered by label.
    ASSERT_EQ(model().rowCount(), 2);
    EXPECT_EQ(cell(0, name, Qt::UserRole + 1), "com.example.backup");
    EXPECT_EQ(cell(1, name, Qt::UserRole + 1), "com.example.sync-agent");
    EXPECT_EQ(summary(), "共 2 个定时任务 · 1 个运行中");

    QStringList titles;
    for (int column = 0; column < model().columnCount(); ++column)
        titles << model().headerData(column, Qt::Horizontal).toString();
    EXPECT_EQ(titles, QStringList({"状态", "名称", "调度", "程序 / 命令", "域", "状态", "操作"}));

    const QPalette palette = QGuiApplication::palette();
    const int running = rowOf("com.example.sync-agent");
    EXPECT_EQ(cell(running, name), "sync agent");
    EXPECT_EQ(cell(running, schedule), "每天 03:15");
    EXPECT_EQ(cell(running, schedule, Qt::ToolTipRole), "每天 03:15");
    EXPECT_EQ(cell(running, program), "/usr/bin/rsync -a /srv/photos/ /mnt/backup/photos/");
    EXPECT_EQ(cell(running, domain), "用户 Agent");
    EXPECT_EQ(cell(running, status), "运行中 (PID 4242)");
    EXPECT_EQ(cell(running, dot, Qt::ToolTipRole), "运行中 (PID 4242)");
    EXPECT_EQ(cell(running, dot, Qt::DecorationRole).value<QColor>(), Style::green());
    EXPECT_EQ(cell(running, status, Qt::ForegroundRole).value<QColor>(), Style::primary(palette));

    const int stopped = rowOf("com.example.backup");
    EXPECT_EQ(cell(stopped, schedule), "每隔 1 小时");
    EXPECT_EQ(cell(stopped, domain), "系统 Daemon");
    EXPECT_EQ(cell(stopped, status), "已停止 (退出码 -9)");
    EXPECT_NE(cell(stopped, dot, Qt::DecorationRole).value<QColor>(), Style::green());
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
    }

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
    auto* hideApple = view->findChild<QCheckBox*>("hideApple");
    auto* search = view->findChild<QLineEdit*>("search");
    EXPECT_FALSE(runningOnly->isChecked());
    EXPECT_TRUE(hideApple->isChecked());
    EXPECT_EQ(search->placeholderText(), "搜索名称 / Label");

    runningOnly->click();
    EXPECT_EQ(model().rowCount(), 1);
    EXPECT_EQ(summary(), "共 1 个定时任务 · 1 个运行中");
    runningOnly->click();

    hideApple->click();
    EXPECT_FALSE(view->store().hideApple());
    EXPECT_EQ(model().rowCount(), 3);
    EXPECT_GE(rowOf("com.apple.cleanup"), 0);
    EXPECT_EQ(summary(), "共 3 个定时任务 · 1 个运行中");

    // Each keystroke filters: the program line matches "rsync".
    QTest::keyClicks(search, "RSY");
    EXPECT_EQ(view->store().filter(), "RSY");
    EXPECT_EQ(model().rowCount(), 1);
    EXPECT_EQ(cell(0, name, Qt::UserRole + 1), "com.example.sync-agent");

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

    EXPECT_TRUE(launchd.calls().contains("kickstart gui/" + uid + "/com.example.backup"));
    EXPECT_TRUE(launchd.calls().contains("start com.example.backup"));
    ASSERT_TRUE(banner());
    EXPECT_EQ(banner()->message(), "[com.example.backup] Could not find service in domain");
    QTest::qWait(300);
    EXPECT_EQ(launchd.listCount(), listings);

    // A later failure replaces the text; dismissing clears it.
    launchd.failWith("bootout", "");
    launchd.failWith("unload", "");
    button(rowOf("com.example.backup"), "unload")->click();
    ASSERT_TRUE(banner());
    EXPECT_EQ(banner()->message(), "[com.example.backup] 操作失败（可能需要管理员权限）。");
    banner()->findChild<QToolButton*>("errorBannerDismiss")->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->store().lastError().has_value());
    EXPECT_TRUE(QTest::qWaitFor([&] { return banner() == nullptr; }, 2000));
}

TEST_F(JobsScreen, SucceededActionClearsBannerAndReloads)
{
    view->store().setLastError(QStringLiteral("[x] earlier failure"));
    ASSERT_TRUE(banner());
    const int listings = launchd.listCount();
    launchd.setTable({{"-", "0", "com.example.sync-agent"}, {"-", "-9", "com.example.backup"}});

    button(rowOf("com.example.sync-agent"), "stop")->click();

    EXPECT_TRUE(launchd.calls().contains("kill SIGTERM gui/" + uid + "/com.example.sync-agent"));
    EXPECT_FALSE(view->store().lastError().has_value());
    waitForListing(listings + 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return banner() == nullptr; }, 2000));
    // The reloaded row has stopped, so it now offers to start.
    const int row = rowOf("com.example.sync-agent");
    ASSERT_GE(row, 0);
    EXPECT_TRUE(button(row, "start"));
    EXPECT_EQ(summary(), "共 2 个定时任务 · 0 个运行中");
}

TEST_F(JobsScreen, JobWithoutDefinitionOffersOnlyStartOrStopAndUnload)
{
    LaunchdJob orphan{
        QUuid::createUuid(),         "local.orphan", std::nullopt, 0,
        LaunchdJob::Domain::unknown, std::nullopt,   std::nullopt, QStringLiteral("每天 09:00")};
    view->store().setJobs({orphan});
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(cell(0, domain), "其他");
    EXPECT_EQ(cell(0, program), "—");
    EXPECT_TRUE(button(0, "start"));
    EXPECT_TRUE(button(0, "unload"));
    EXPECT_FALSE(button(0, "load"));
    EXPECT_FALSE(button(0, "open"));
    EXPECT_FALSE(button(0, "reveal"));

    // Gone from launchd and without a file: bootout fails and nothing else is tried.
    launchd.failWith("bootout", "Boot-out failed: 3: No such process\n");
    button(0, "unload")->click();
    EXPECT_EQ(launchd.calls().filter("unload").size(), 0);
    ASSERT_TRUE(banner());
    EXPECT_EQ(banner()->message(), "[local.orphan] Boot-out failed: 3: No such process");
}

TEST_F(JobsScreen, LoadingStateAndReloadOnEveryShow)
{
    auto* refresh = view->findChild<QToolButton*>("refresh");
    EXPECT_EQ(refresh->toolTip(), "刷新");
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
    EXPECT_EQ(hint->text(), "仅显示带调度（周期/间隔）的 launchd 任务");
    EXPECT_EQ(shown, Style::tertiary(dark));
    EXPECT_EQ(hint->palette().color(QPalette::WindowText), Style::tertiary(light));
}

} // namespace

// The scheduled-jobs screen over a real systemd user manager.
#include "ErrorBanner.h"
#include "ExampleTimers.h"
#include "JobsScreenReader.h"
#include "JobsView.h"
#include "Stores.h"
#include "Style.h"
#include "SystemdSource.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class TimersScreen : public ExampleTimersSuite, protected JobsScreenReader {
protected:
    void SetUp() override
    {
        ExampleTimersSuite::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        forgetViewState();
        JobSources::Sources sources;
        sources.push_back(std::make_unique<SystemdSource>(JobScope::user, sandbox->bus()));
        view = std::make_unique<JobsView>(std::make_shared<JobsStore>(std::move(sources)));
        view->resize(1400, 500);
        view->show();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !view->store().isLoading() && model().rowCount() > 0; }, 10000));
    }

    bool waitForStatus(const QString& label, const std::function<bool(const QString&)>& shown)
    {
        return QTest::qWaitFor([&] { return shown(cellOf(label, status).toString()); }, 10000);
    }
    ErrorBanner* banner() { return view->findChild<ErrorBanner*>("errorBanner"); }
};

TEST_F(TimersScreen, ShowsTheTimersAsAPersonSeesThem)
{
    QStringList labels;
    for (int row = 0; row < model().rowCount(); ++row)
        labels.append(cell(row, name, labelRole).toString());
    EXPECT_EQ(labels, (QStringList{"cleanup.timer", "locked.timer", "poll.timer", "report.timer"}));
    EXPECT_EQ(view->findChild<QLabel*>("summary")->text(), "共 4 个定时任务 · 0 个运行中");
    EXPECT_EQ(view->findChild<QLabel*>("hint")->text(), "仅显示 systemd 定时器（timer）");

    // What the manager itself ships shows once the box is cleared.
    auto* hideSystem = view->findChild<QCheckBox*>("hideSystemJobs");
    EXPECT_EQ(hideSystem->text(), "隐藏系统自带项");
    hideSystem->click();
    EXPECT_GE(rowOf("systemd-tmpfiles-clean.timer"), 0);
    hideSystem->click();

    EXPECT_EQ(cellOf("report.timer", name), "Nightly report");
    EXPECT_EQ(cellOf("report.timer", name, Qt::AccessibleTextRole), "Nightly report\nreport.timer");
    EXPECT_EQ(cellOf("report.timer", schedule), "周一至周五 09:00；每天 21:00");
    EXPECT_TRUE(QRegularExpression("^(今天|明天|\\d\\d-\\d\\d) (09|21):00$")
                    .match(cellOf("report.timer", nextRun).toString())
                    .hasMatch())
        << cellOf("report.timer", nextRun).toString().toStdString();
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d (09|21):00:00\n上次运行：从未$")
                    .match(cellOf("report.timer", nextRun, Qt::ToolTipRole).toString())
                    .hasMatch());
    EXPECT_EQ(cellOf("report.timer", program), "/bin/sh -c 'exit 3'");
    EXPECT_EQ(cellOf("report.timer", domain), "用户 Timer");
    EXPECT_EQ(cellOf("report.timer", status), "已停止");
    EXPECT_EQ(button("report.timer", "start")->text(), "启动");
    EXPECT_EQ(button("report.timer", "start")->toolTip(), "立即启动");
    EXPECT_EQ(button("report.timer", "unload")->text(), "卸载");
    EXPECT_EQ(button("report.timer", "unload")->toolTip(), "停用并卸载定时器（disable --now）");
    EXPECT_FALSE(button("report.timer", "load"));
    EXPECT_EQ(button("report.timer", "open")->toolTip(), "打开配置文件");
    EXPECT_EQ(button("report.timer", "reveal")->toolTip(), "在 Finder 中显示");

    // Open and reveal act on the timer's unit file (with no file manager here, revealing opens
    // its folder).
    Opener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    button("report.timer", "open")->click();
    button("report.timer", "reveal")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return opener.opened.size() == 2; }, 8000));
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(opener.opened,
              (QList<QUrl>{QUrl::fromLocalFile(sandbox->unitDirectory() + "/report.timer"),
                           QUrl::fromLocalFile(sandbox->unitDirectory())}));
    for (const char* which : {"start", "unload", "open", "reveal"}) {
        EXPECT_FALSE(button("report.timer", which)->icon().isNull()) << which;
        EXPECT_TRUE(button("report.timer", which)->accessibleName().endsWith(" report.timer"));
    }

    // A timer that is not enabled can be loaded, and does not run before then.
    EXPECT_EQ(cellOf("cleanup.timer", status), "未启用");
    EXPECT_EQ(cellOf("cleanup.timer", nextRun), "—");
    EXPECT_EQ(cellOf("cleanup.timer", nextRun, Qt::ToolTipRole), "上次运行：从未");
    EXPECT_EQ(button("cleanup.timer", "load")->text(), "加载");
    EXPECT_EQ(button("cleanup.timer", "load")->toolTip(), "启用并加载定时器（enable --now）");
    EXPECT_FALSE(button("cleanup.timer", "unload"));
}

TEST_F(TimersScreen, RowsFollowTheManagerWithoutAnotherClick)
{
    QSignalSpy resets(&model(), &QAbstractItemModel::modelReset);
    table().selectRow(rowOf("report.timer"));

    button("poll.timer", "start")->click();
    ASSERT_TRUE(waitForStatus("poll.timer", [](const QString& text) {
        return text.startsWith("运行中 (PID ");
    })) << cellOf("poll.timer", status).toString().toStdString();
    EXPECT_EQ(cellOf("poll.timer", dot, Qt::DecorationRole).value<QColor>(), Style::green());
    ASSERT_TRUE(QTest::qWaitFor([&] { return button("poll.timer", "stop") != nullptr; }, 2000));
    EXPECT_EQ(view->findChild<QLabel*>("summary")->text(), "共 4 个定时任务 · 1 个运行中");

    button("poll.timer", "stop")->click();
    EXPECT_TRUE(waitForStatus("poll.timer",
                              [](const QString& text) { return text == "已停止 (退出码 -15)"; }));

    // The oneshot's failure shows once it has run.
    button("report.timer", "start")->click();
    EXPECT_TRUE(waitForStatus("report.timer",
                              [](const QString& text) { return text == "已停止 (退出码 3)"; }));

    // disable --now, then enable --now.
    const QString wanted = sandbox->unitDirectory() + "/timers.target.wants/poll.timer";
    button("poll.timer", "unload")->click();
    EXPECT_TRUE(waitForStatus("poll.timer", [](const QString& text) { return text == "未启用"; }));
    EXPECT_EQ(cellOf("poll.timer", nextRun), "—");
    EXPECT_FALSE(QFile::exists(wanted));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button("poll.timer", "load") != nullptr; }, 2000));
    button("poll.timer", "load")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return button("poll.timer", "unload") != nullptr; }, 5000));
    EXPECT_NE(cellOf("poll.timer", nextRun), "—");
    EXPECT_TRUE(QFile::exists(wanted));

    // Enabled from a terminal.
    ASSERT_EQ(sandbox->systemctl({"enable", "--now", "cleanup.timer"}).status, 0);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return button("cleanup.timer", "unload") != nullptr; }, 5000));
    EXPECT_EQ(cellOf("cleanup.timer", status), "已停止");
    EXPECT_NE(cellOf("cleanup.timer", nextRun), "—");

    // Refused by the manager: the banner names the timer and gives the manager's reason.
    button("locked.timer", "start")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return banner() != nullptr; }, 10000));
    EXPECT_TRUE(banner()->message().startsWith("[locked.timer] "));
    EXPECT_TRUE(banner()->message().contains("locked.service"));

    // A command line edited and reloaded from a terminal.
    sandbox->writeUnit("report.service",
                       "[Service]\nType=oneshot\nExecStart=/bin/sh -c 'exit 4'\n");
    ASSERT_EQ(sandbox->systemctl({"daemon-reload"}).status, 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return cellOf("report.timer", program) == "/bin/sh -c 'exit 4'"; }, 5000));

    // All along, the table changed row by row and the selection stayed on its timer.
    EXPECT_EQ(resets.count(), 0);
    const QModelIndexList selected = table().selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().row(), rowOf("report.timer"));
}

} // namespace

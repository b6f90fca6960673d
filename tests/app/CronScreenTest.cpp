// The scheduled-jobs screen over the program's own cron source: the real crontab tool against a
// private spool, and scratch files in place of the system's tables.
#include "CronSandbox.h"
#include "JobsScreenReader.h"

#include "ErrorBanner.h"
#include "JobsView.h"
#include "Stores.h"
#include "Style.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class CronScreen : public ::testing::Test, protected JobsScreenReader {
protected:
    void SetUp() override
    {
        if (const auto reason = CronSandbox::unavailableReason())
            GTEST_SKIP() << reason->toStdString();
        forgetViewState();
        scratch = std::make_unique<CronSandbox::Scratch>();
        scratch->installOwnTable("MAILTO=\"\"\n"
                                 "# Nightly backup\n"
                                 "15 3 * * * /usr/local/bin/backup --all\n"
                                 "*/5 * * * * date +\\%s >> stamps\n"
                                 "# Weekday report \xe2\x80\xae fdp.exe\n"
                                 "0 9 * * 1-5 \"/opt/my tools/report\" --mail\n"
                                 "@reboot /opt/bin/warm-up\n"
                                 "# Fails on purpose\n"
                                 "* * * * * while [ ! -e go ]; do sleep 0.05; done; exit 3\n"
                                 "* * * * * sleep 300\n");
        systemTable = scratch->systemTable();
        rotate = scratch->tablesFolder() + "/rotate";
        gift = scratch->tablesFolder() + "/gift";
        scratch->write(systemTable, "SHELL=/bin/sh\n"
                                    "# *  *  *  *  * user-name command to be executed\n"
                                    "17 *\t* * *\troot    cd / && run-parts --report /etc/x\n");
        scratch->write(rotate, "# Rotate logs\n0 0 1 * * www-data /usr/sbin/logrotate-web\n");
        scratch->write(gift, "0 8 25 12 * sa\xe2\x80\xaent /usr/bin/gift\n");

        // The cron source the program itself puts beside the others.
        JobSources::Sources sources;
        for (std::unique_ptr<JobSource>& source : JobSources::standard()) {
            if (source->kind() == JobSourceKind::cron)
                sources.push_back(std::move(source));
        }
        ASSERT_EQ(sources.size(), 1u);
        view = std::make_unique<JobsView>(std::make_shared<JobsStore>(std::move(sources)));
        view->resize(1400, 500);
        view->show();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !view->store().isLoading() && model().rowCount() > 0; }, 10000));
    }

    void TearDown() override
    {
        if (!scratch)
            return;
        // Runs this test started and left going.
        for (const Job& job : view ? view->store().jobs() : QList<Job>()) {
            if (job.pid)
                ::kill(-*job.pid, SIGKILL);
        }
        view.reset();
        scratch.reset();
        EXPECT_TRUE(CronSandbox::realSpoolUnchanged());
    }

    QString summary() const { return view->findChild<QLabel*>("summary")->text(); }
    bool waitForStatus(const QString& label, const std::function<bool(const QString&)>& shown)
    {
        return QTest::qWaitFor([&] { return shown(cellOf(label, status).toString()); }, 20000);
    }
    bool waitForButton(const QString& label, const char* which)
    {
        return QTest::qWaitFor([&] { return button(label, which) != nullptr; }, 5000);
    }

    std::unique_ptr<CronSandbox::Scratch> scratch;
    QString systemTable, rotate, gift;
};

TEST_F(CronScreen, ShowsTheEntriesAsAPersonSeesThem)
{
    QStringList labels;
    for (int row = 0; row < model().rowCount(); ++row)
        labels.append(cell(row, name, labelRole).toString());
    EXPECT_EQ(labels, (QStringList{"crontab:3", "crontab:4", "crontab:6", "crontab:7", "crontab:9",
                                   "crontab:10"}));
    EXPECT_EQ(summary(), "共 6 个定时任务 · 0 个运行中");
    EXPECT_EQ(view->findChild<QLabel*>("hint")->text(),
              "cron 条目：用户 crontab、/etc/crontab 与 /etc/cron.d");

    EXPECT_EQ(cellOf("crontab:3", name), "Nightly backup");
    EXPECT_EQ(cellOf("crontab:3", schedule), "每天 03:15");
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime next = now.time() < QTime(3, 15)
                               ? QDateTime(now.date(), QTime(3, 15))
                               : QDateTime(now.date().addDays(1), QTime(3, 15));
    EXPECT_EQ(cellOf("crontab:3", nextRun),
              (next.date() == now.date() ? "今天 03:15" : "明天 03:15"));
    EXPECT_EQ(cellOf("crontab:3", nextRun, Qt::ToolTipRole),
              next.toString("yyyy-MM-dd") + " 03:15:00");
    EXPECT_EQ(cellOf("crontab:3", program), "/usr/local/bin/backup --all");
    EXPECT_EQ(cellOf("crontab:3", domain), "用户 cron");
    EXPECT_FALSE(cellOf("crontab:3", domain, Qt::ToolTipRole).isValid());
    EXPECT_EQ(cellOf("crontab:3", status), "—");
    EXPECT_LT(cellOf("crontab:3", dot, Qt::DecorationRole).value<QColor>().alphaF(), 0.5);
    ASSERT_TRUE(button("crontab:3", "start"));
    EXPECT_EQ(button("crontab:3", "start")->text(), "启动");
    EXPECT_EQ(button("crontab:3", "start")->toolTip(), "立即运行一次");
    for (const char* none : {"stop", "load", "unload", "open", "reveal"})
        EXPECT_FALSE(button("crontab:3", none)) << "the user's own table has no file to open";

    // Schedules are worded as in the cron table tests; without a comment above, the command's
    // first word names the entry.
    EXPECT_EQ(cellOf("crontab:4", name), "date");
    EXPECT_EQ(cellOf("crontab:4", program), "date +\\%s >> stamps");
    // A comment cannot turn the text around it.
    EXPECT_EQ(cellOf("crontab:6", name), "Weekday report \\u202E fdp.exe");
    EXPECT_TRUE(QRegularExpression("^(今天|明天|\\d\\d-\\d\\d) 09:00$")
                    .match(cellOf("crontab:6", nextRun).toString())
                    .hasMatch());
    EXPECT_EQ(cellOf("crontab:7", name), "warm-up");
    EXPECT_EQ(cellOf("crontab:7", nextRun), "—");

    // The system's entries show once the box is cleared, and can only be looked at.
    auto* hideSystem = view->findChild<QCheckBox*>("hideSystemJobs");
    EXPECT_EQ(hideSystem->text(), "隐藏系统自带项");
    EXPECT_LT(rowOf(systemTable + ":3"), 0);
    hideSystem->click();
    EXPECT_EQ(summary(), "共 9 个定时任务 · 0 个运行中");
    const QString hourly = systemTable + ":3";
    EXPECT_EQ(cellOf(hourly, name), "cd");
    EXPECT_EQ(cellOf(hourly, program), "cd / && run-parts --report /etc/x");
    EXPECT_EQ(cellOf(hourly, domain), "系统 cron");
    EXPECT_EQ(cellOf(hourly, domain, Qt::ToolTipRole), "运行用户：root");
    EXPECT_EQ(cellOf(hourly, status), "—");
    EXPECT_EQ(cellOf(rotate + ":2", domain, Qt::ToolTipRole), "运行用户：www-data");
    EXPECT_TRUE(QRegularExpression("^\\d{4}-12-25 08:00:00$")
                    .match(cellOf(gift + ":1", nextRun, Qt::ToolTipRole).toString())
                    .hasMatch());
    EXPECT_EQ(cellOf(gift + ":1", domain, Qt::ToolTipRole), "运行用户：sa\\u202Ent");
    EXPECT_FALSE(button(hourly, "start"));
    EXPECT_FALSE(button(hourly, "load"));
    EXPECT_FALSE(button(hourly, "unload"));
    ASSERT_TRUE(button(hourly, "open"));
    EXPECT_EQ(button(hourly, "open")->toolTip(), "打开配置文件");
    EXPECT_EQ(button(hourly, "reveal")->toolTip(), "在 Finder 中显示");
    Opener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    button(rotate + ":2", "open")->click();
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(opener.opened, QList<QUrl>{QUrl::fromLocalFile(rotate)});

    hideSystem->click();
    EXPECT_EQ(model().rowCount(), 6);
}

TEST_F(CronScreen, ARunStartedFromTheRowShowsUntilItEndsOrIsStopped)
{
    button("crontab:9", "start")->click();
    ASSERT_TRUE(waitForStatus("crontab:9", [](const QString& text) {
        return text.startsWith("运行中 (PID ");
    })) << cellOf("crontab:9", status).toString().toStdString();
    EXPECT_EQ(cellOf("crontab:9", dot, Qt::DecorationRole).value<QColor>(), Style::green());
    ASSERT_TRUE(waitForButton("crontab:9", "stop"));
    EXPECT_EQ(button("crontab:9", "stop")->text(), "停止");
    EXPECT_FALSE(button("crontab:9", "start"));
    EXPECT_EQ(summary(), "共 6 个定时任务 · 1 个运行中");

    // It fails by itself, and the row follows without another click.
    scratch->write(QDir(scratch->home()).filePath("go"), "");
    EXPECT_TRUE(waitForStatus("crontab:9",
                              [](const QString& text) { return text == "已停止 (退出码 3)"; }));
    EXPECT_TRUE(waitForButton("crontab:9", "start"));
    EXPECT_EQ(summary(), "共 6 个定时任务 · 0 个运行中");

    button("crontab:10", "start")->click();
    QString running;
    ASSERT_TRUE(waitForStatus("crontab:10", [&](const QString& text) {
        running = text;
        return text.startsWith("运行中 (PID ");
    }));
    const qint32 pid = QStringView(running).sliced(9).chopped(1).toInt();
    ASSERT_GT(pid, 0) << running.toStdString();
    ASSERT_TRUE(waitForButton("crontab:10", "stop"));
    button("crontab:10", "stop")->click();
    EXPECT_TRUE(waitForStatus("crontab:10", [](const QString& text) {
        return text == QStringLiteral("已停止 (退出码 -%1)").arg(SIGTERM);
    }));
    EXPECT_FALSE(processAlive(pid));
    EXPECT_FALSE(view->findChild<ErrorBanner*>("errorBanner"));
}

} // namespace

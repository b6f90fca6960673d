#include "CronSource.h"
#include "CronSandbox.h"
#include "ProcessRunner.h"
#include "platform/Platform.h"

#include "Printing.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString crontab = QStringLiteral("/usr/bin/crontab");

bool alive(qint32 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // The state follows the command in parentheses; a zombie has ended.
    const QByteArray line = stat.readAll();
    return !line.mid(line.lastIndexOf(')') + 2, 1).startsWith('Z');
}

class CronSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const auto reason = CronSandbox::unavailableReason())
            GTEST_SKIP() << reason->toStdString();
        ASSERT_TRUE(m_scratch.isValid());
        ASSERT_TRUE(QDir().mkpath(home()));
        ASSERT_TRUE(QDir().mkpath(tablesFolder()));
        m_oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home()));
        Platform::testing::setSystemCrontabPath(systemTable());
        Platform::testing::setCronTablesFolder(tablesFolder());
        removeOwnTable();
    }

    void TearDown() override
    {
        if (CronSandbox::unavailableReason())
            return;
        removeOwnTable();
        Platform::testing::setCrontabPath(std::nullopt);
        Platform::testing::setSystemCrontabPath(std::nullopt);
        Platform::testing::setCronTablesFolder(std::nullopt);
        qputenv("HOME", m_oldHome);
        EXPECT_TRUE(CronSandbox::realSpoolUnchanged());
    }

    QString home() const { return m_scratch.filePath(QStringLiteral("home")); }
    QString systemTable() const { return m_scratch.filePath(QStringLiteral("crontab")); }
    QString tablesFolder() const { return m_scratch.filePath(QStringLiteral("cron.d")); }
    QString ownSpoolFile() const { return CronSandbox::spool() + u'/' + Platform::loginName(); }

    static void write(const QString& path, const QByteArray& contents)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    // Installs the user's own table with the real tool, which checks every line.
    void installOwnTable(const QByteArray& contents)
    {
        const QString path = m_scratch.filePath(QStringLiteral("own-table"));
        write(path, contents);
        const ProcessRunner::Result installed = ProcessRunner::run(crontab, {path});
        ASSERT_EQ(installed.status, 0) << installed.stdErr.toStdString();
    }

    void removeOwnTable() { QFile::remove(ownSpoolFile()); }

    bool existsInHome(const char* name) const
    {
        return QFile::exists(QDir(home()).filePath(QString::fromLatin1(name)));
    }

    QString inHome(const char* name) const
    {
        QFile file(QDir(home()).filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    static Job jobLabelled(const JobSource::Listing& listing, const QString& label)
    {
        for (const Job& job : listing.jobs) {
            if (job.identity.label == label)
                return job;
        }
        ADD_FAILURE() << "no job labelled " << label.toStdString();
        return {};
    }

    // Starts the user's entry on this line and waits until the listing shows it running.
    Job startOwn(CronSource& source, int line)
    {
        const QString label = QStringLiteral("crontab:%1").arg(line);
        const JobSource::ActionResult started =
            source.perform(jobLabelled(source.list(), label), JobAction::start);
        EXPECT_TRUE(started.success) << started.message.toStdString();
        return jobLabelled(source.list(), label);
    }

    QTemporaryDir m_scratch;
    QByteArray m_oldHome;
    std::shared_ptr<CronRuns> m_runs = std::make_shared<CronRuns>();
};

} // namespace

TEST_F(CronSourceTest, ListsEveryEntryOfTheOwnAndTheSystemTables)
{
    installOwnTable("MAILTO=\"\"\n"
                    "# Nightly backup\n"
                    "15 3 * * * /usr/local/bin/backup --all\n"
                    "@reboot /opt/bin/warm-up\n"
                    "*/5 * * * * date +\\%s >> stamps\n");
    write(systemTable(), "SHELL=/bin/sh\n17 * * * * root cd / && run-parts /etc/cron.hourly\n");
    const QString rotate = tablesFolder() + QStringLiteral("/rotate");
    write(rotate, "# Rotate logs\n0 0 1 * * www-data /usr/sbin/rotate\n");
    // What cron itself leaves alone: other names, and what is not a regular file. A FIFO would
    // stall the listing if it were opened.
    write(tablesFolder() + QStringLiteral("/rotate.dpkg-old"), "0 0 1 * * root /old\n");
    write(tablesFolder() + QStringLiteral("/.placeholder"), "0 0 1 * * root /hidden\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(tablesFolder() + QStringLiteral("/pipe")), 0644), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent"), tablesFolder() + "/gone"));
    ASSERT_TRUE(QDir().mkpath(tablesFolder() + QStringLiteral("/folder")));

    CronSource source(m_runs);
    EXPECT_EQ(source.kind(), JobSourceKind::cron);
    const JobSource::Listing listing = source.list();
    EXPECT_TRUE(listing.present);
    EXPECT_EQ(listing.error, std::nullopt);
    ASSERT_EQ(listing.jobs.size(), 5);

    const Job backup = jobLabelled(listing, QStringLiteral("crontab:3"));
    EXPECT_EQ(backup.identity.scope, JobScope::user);
    EXPECT_EQ(backup.name, QStringLiteral("Nightly backup"));
    EXPECT_EQ(backup.schedule, QStringLiteral("每天 03:15"));
    ASSERT_TRUE(backup.nextRun);
    EXPECT_EQ(backup.nextRun->time(), QTime(3, 15));
    EXPECT_GT(*backup.nextRun, QDateTime::currentDateTime());
    EXPECT_LE(*backup.nextRun, QDateTime::currentDateTime().addDays(1));
    EXPECT_EQ(backup.program, QStringLiteral("/usr/local/bin/backup --all"));
    EXPECT_EQ(backup.domain, QStringLiteral("用户 cron"));
    EXPECT_EQ(backup.domainTooltip, std::nullopt);
    EXPECT_EQ(backup.definitionPath, std::nullopt);
    EXPECT_FALSE(backup.shippedWithSystem);
    EXPECT_EQ(backup.statusText, QStringLiteral("—"));
    EXPECT_EQ(backup.pid, std::nullopt);
    EXPECT_EQ(backup.actions, QList<JobAction>{JobAction::start});

    const Job warmUp = jobLabelled(listing, QStringLiteral("crontab:4"));
    EXPECT_EQ(warmUp.name, QStringLiteral("warm-up"));
    EXPECT_EQ(warmUp.schedule, QStringLiteral("开机时"));
    EXPECT_EQ(warmUp.nextRun, std::nullopt);
    EXPECT_EQ(jobLabelled(listing, QStringLiteral("crontab:5")).program,
              QStringLiteral("date +\\%s >> stamps"));

    const Job hourly = jobLabelled(listing, systemTable() + QStringLiteral(":2"));
    EXPECT_EQ(hourly.identity.scope, JobScope::system);
    EXPECT_EQ(hourly.name, QStringLiteral("cd"));
    EXPECT_EQ(hourly.schedule, QStringLiteral("每小时第 17 分"));
    EXPECT_EQ(hourly.domain, QStringLiteral("系统 cron"));
    EXPECT_EQ(hourly.domainTooltip, QStringLiteral("运行用户：root"));
    EXPECT_EQ(hourly.definitionPath, systemTable());
    EXPECT_TRUE(hourly.shippedWithSystem);
    EXPECT_TRUE(hourly.actions.isEmpty());

    const Job rotated = jobLabelled(listing, rotate + QStringLiteral(":2"));
    EXPECT_EQ(rotated.name, QStringLiteral("Rotate logs"));
    EXPECT_EQ(rotated.schedule, QStringLiteral("每月 1 日 00:00"));
    EXPECT_EQ(rotated.domainTooltip, QStringLiteral("运行用户：www-data"));
    EXPECT_EQ(rotated.definitionPath, rotate);

    // A second listing keys the same rows the same way, each a fresh record.
    const JobSource::Listing again = source.list();
    ASSERT_EQ(again.jobs.size(), listing.jobs.size());
    for (qsizetype i = 0; i < again.jobs.size(); ++i) {
        EXPECT_EQ(again.jobs[i].identity, listing.jobs[i].identity);
        EXPECT_NE(again.jobs[i].id, listing.jobs[i].id);
    }
}

TEST_F(CronSourceTest, NoCrontabOrNoToolMeansNoRowsAndNoError)
{
    CronSource source(m_runs);
    JobSource::Listing listing = source.list();
    EXPECT_TRUE(listing.present) << "the crontab tool is there";
    EXPECT_TRUE(listing.jobs.isEmpty());
    EXPECT_EQ(listing.error, std::nullopt) << "no crontab for the user is no error";

    Platform::testing::setCrontabPath(m_scratch.filePath(QStringLiteral("no-such-crontab")));
    write(systemTable(), "0 4 * * * root /usr/sbin/nightly\n");
    listing = source.list();
    EXPECT_TRUE(listing.present) << "the system table is there";
    EXPECT_EQ(listing.error, std::nullopt);
    ASSERT_EQ(listing.jobs.size(), 1);
    EXPECT_EQ(listing.jobs[0].identity.scope, JobScope::system);

    ASSERT_TRUE(QFile::remove(systemTable()));
    listing = source.list();
    EXPECT_FALSE(listing.present);
    EXPECT_TRUE(listing.jobs.isEmpty());
    EXPECT_EQ(listing.error, std::nullopt);
}

TEST_F(CronSourceTest, AFailedReadOfTheOwnTableIsAnError)
{
    // A socket where the table should be: the tool cannot open it and says so.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(ownSpoolFile());
    ASSERT_LT(static_cast<size_t>(path.size()), sizeof address.sun_path);
    std::copy(path.cbegin(), path.cend(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    write(systemTable(), "0 4 * * * root /usr/sbin/nightly\n");

    CronSource source(m_runs);
    const JobSource::Listing listing = source.list();
    EXPECT_TRUE(listing.present);
    ASSERT_TRUE(listing.error);
    EXPECT_TRUE(listing.error->startsWith(QStringLiteral("无法读取 crontab：")))
        << listing.error->toStdString();
    EXPECT_GT(listing.error->size(), QStringLiteral("无法读取 crontab：").size());
    EXPECT_EQ(listing.jobs.size(), 1) << "the system's entries are still read";
}

TEST_F(CronSourceTest, RunNowRunsTheCommandAsCronWouldAndShowsItsExitCode)
{
    installOwnTable("GREETING=hello\n"
                    "* * * * * echo \"$GREETING\" > greeting; pwd > where; cat > input;"
                    " ls /proc/$$/fd > descriptors; exit 3%first%second \\% line\n");
    // A descriptor that anything started from here inherits unless it is closed on the way.
    const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int leaked = ::fcntl(opened, F_DUPFD, 100);
    ::close(opened);
    ASSERT_GE(leaked, 100);
    CronSource source(m_runs);
    QSignalSpy changed(&source, &JobSource::changed);
    const JobSource::ActionResult started =
        source.perform(source.list().jobs.value(0), JobAction::start);
    ASSERT_TRUE(started.success) << started.message.toStdString();
    ASSERT_TRUE(changed.wait(20000)) << "the end of the run is announced";

    const Job job = jobLabelled(source.list(), QStringLiteral("crontab:2"));
    EXPECT_EQ(job.statusText, QStringLiteral("已停止 (退出码 3)"));
    EXPECT_EQ(job.pid, std::nullopt);
    EXPECT_EQ(job.actions, QList<JobAction>{JobAction::start});
    EXPECT_EQ(inHome("greeting"), QStringLiteral("hello\n"));
    EXPECT_EQ(inHome("where"), home() + u'\n');
    EXPECT_EQ(inHome("input"), QStringLiteral("first\nsecond % line"));
    const QStringList descriptors = inHome("descriptors").split(u'\n');
    EXPECT_TRUE(descriptors.contains(QStringLiteral("0")));
    EXPECT_FALSE(descriptors.contains(QString::number(leaked))) << "the run keeps none of ours";
    ::close(leaked);
}

TEST_F(CronSourceTest, StopEndsTheWholeRunAndOnlyOneRunGoesAtATime)
{
    installOwnTable("* * * * * sleep 300 & echo $! > background; sleep 300\n");
    CronSource source(m_runs);
    QSignalSpy changed(&source, &JobSource::changed);
    const Job running = startOwn(source, 1);
    ASSERT_TRUE(running.pid);
    EXPECT_EQ(running.statusText, QStringLiteral("运行中 (PID %1)").arg(*running.pid));
    EXPECT_EQ(running.actions, QList<JobAction>{JobAction::stop});
    EXPECT_EQ(::getsid(*running.pid), *running.pid) << "the run leads a session of its own";
    EXPECT_EQ(::getpgid(*running.pid), *running.pid);

    const JobSource::ActionResult again = source.perform(running, JobAction::start);
    EXPECT_FALSE(again.success);
    EXPECT_EQ(again.message, QStringLiteral("已在运行 (PID %1)").arg(*running.pid));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !inHome("background").isEmpty(); }, 20000));
    const qint32 background = inHome("background").trimmed().toInt();
    ASSERT_GT(background, 0);

    const JobSource::ActionResult stopped = source.perform(running, JobAction::stop);
    EXPECT_TRUE(stopped.success) << stopped.message.toStdString();
    const Job ended = jobLabelled(source.list(), QStringLiteral("crontab:1"));
    EXPECT_EQ(ended.statusText, QStringLiteral("已停止 (退出码 -%1)").arg(SIGTERM));
    EXPECT_EQ(ended.pid, std::nullopt);
    EXPECT_EQ(ended.actions, QList<JobAction>{JobAction::start});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !alive(background); }, 20000))
        << "what the command left in the background went with it";
    EXPECT_TRUE(changed.count() > 0 || changed.wait(20000));

    EXPECT_TRUE(source.perform(running, JobAction::stop).success) << "an ended run needs no stop";
}

TEST_F(CronSourceTest, StopKillsARunThatIgnoresTheRequestToEnd)
{
    installOwnTable("* * * * * trap '' TERM; touch deaf; sleep 300\n");
    m_runs->setStopGraceForTesting(std::chrono::milliseconds(300));
    CronSource source(m_runs);
    const Job running = startOwn(source, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return existsInHome("deaf"); }, 20000));
    const JobSource::ActionResult stopped = source.perform(running, JobAction::stop);
    EXPECT_TRUE(stopped.success) << stopped.message.toStdString();
    EXPECT_EQ(jobLabelled(source.list(), QStringLiteral("crontab:1")).statusText,
              QStringLiteral("已停止 (退出码 -%1)").arg(SIGKILL));
}

TEST_F(CronSourceTest, ARunOutlivesTheSourceThatStartedIt)
{
    installOwnTable("* * * * * while [ ! -e release ]; do sleep 0.05; done; exit 4\n");
    auto started = std::make_unique<CronSource>(m_runs);
    const Job running = startOwn(*started, 1);
    ASSERT_TRUE(running.pid);
    started.reset();

    {
        CronSource later(m_runs);
        QSignalSpy changed(&later, &JobSource::changed);
        EXPECT_EQ(jobLabelled(later.list(), QStringLiteral("crontab:1")).pid, running.pid);
        write(QDir(home()).filePath(QStringLiteral("release")), "");
        ASSERT_TRUE(changed.wait(20000));
        EXPECT_EQ(jobLabelled(later.list(), QStringLiteral("crontab:1")).statusText,
                  QStringLiteral("已停止 (退出码 4)"));
    }

    // With no source and no owner left, the runs still wait for the run that is going, and go
    // once it has ended.
    ASSERT_TRUE(QFile::remove(QDir(home()).filePath(QStringLiteral("release"))));
    auto last = std::make_unique<CronSource>(m_runs);
    const Job again = startOwn(*last, 1);
    ASSERT_TRUE(again.pid);
    const std::weak_ptr<CronRuns> runs = m_runs;
    last.reset();
    m_runs.reset();
    EXPECT_FALSE(runs.expired());
    write(QDir(home()).filePath(QStringLiteral("release")), "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs.expired(); }, 20000));
    EXPECT_FALSE(alive(*again.pid));
}

TEST_F(CronSourceTest, OnlyTheOwnEntriesAsListedCanBeStarted)
{
    installOwnTable("* * * * * touch first\n");
    write(systemTable(), "* * * * * root touch system\n");
    CronSource source(m_runs);
    const JobSource::Listing listing = source.list();
    const Job own = jobLabelled(listing, QStringLiteral("crontab:1"));
    const Job system = jobLabelled(listing, systemTable() + QStringLiteral(":1"));

    const QString unsupported = QStringLiteral("cron 条目不支持此操作");
    EXPECT_EQ(source.perform(system, JobAction::start).message, unsupported);
    EXPECT_EQ(source.perform(own, JobAction::load).message, unsupported);
    EXPECT_EQ(source.perform(own, JobAction::unload).message, unsupported);

    installOwnTable("* * * * * touch second\n");
    const JobSource::ActionResult stale = source.perform(own, JobAction::start);
    EXPECT_FALSE(stale.success);
    EXPECT_EQ(stale.message, QStringLiteral("crontab 中的这一条目已更改或已删除，请刷新后重试"));
    EXPECT_EQ(jobLabelled(source.list(), QStringLiteral("crontab:1")).statusText,
              QStringLiteral("—"));
    EXPECT_FALSE(existsInHome("first") || existsInHome("second") || existsInHome("system"));
}

TEST_F(CronSourceTest, ATableThatIsNotUtf8IsStillListed)
{
    installOwnTable("# Sauvegarde g\xe9n\xe9rale\n* * * * * touch caf\xe9\n0 1 * * * touch tea\n");
    CronSource source(m_runs);
    const JobSource::Listing listing = source.list();
    EXPECT_EQ(listing.error, std::nullopt);
    ASSERT_EQ(listing.jobs.size(), 2);
    EXPECT_EQ(listing.jobs[0].name, QStringLiteral("Sauvegarde g\uFFFDn\uFFFDrale"));

    const JobSource::ActionResult unreadable = source.perform(listing.jobs[0], JobAction::start);
    EXPECT_FALSE(unreadable.success);
    EXPECT_EQ(unreadable.message,
              QStringLiteral("这一条目的命令不是有效的 UTF-8 文本，无法从这里运行"));
    EXPECT_TRUE(source.perform(listing.jobs[1], JobAction::start).success);
}

// The cron source over the real crontab tool and a private spool. How its rows look on screen,
// and a run started and stopped from a row, are the cron screen test's.
#include "CronSource.h"
#include "CronSandbox.h"
#include "platform/Platform.h"

#include "Printing.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QStringList labelsOf(const JobSource::Listing& listing)
{
    QStringList labels;
    for (const Job& job : listing.jobs)
        labels.append(job.identity.label);
    return labels;
}

class CronSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const auto reason = CronSandbox::unavailableReason())
            GTEST_SKIP() << reason->toStdString();
        scratch = std::make_unique<CronSandbox::Scratch>();
    }

    void TearDown() override
    {
        if (!scratch)
            return;
        scratch.reset();
        EXPECT_TRUE(CronSandbox::realSpoolUnchanged());
    }

    QString inHome(const char* name) const { return scratch->inHome(QString::fromLatin1(name)); }

    static Job jobLabelled(const JobSource::Listing& listing, const QString& label)
    {
        for (const Job& job : listing.jobs) {
            if (job.identity.label == label)
                return job;
        }
        ADD_FAILURE() << "no job labelled " << label.toStdString();
        return {};
    }

    // Starts the user's entry on this line and returns its row as the next listing shows it.
    Job startOwn(CronSource& source, int line)
    {
        const QString label = QStringLiteral("crontab:%1").arg(line);
        const JobSource::ActionResult started =
            source.perform(jobLabelled(source.list(), label), JobAction::start);
        EXPECT_TRUE(started.success) << started.message.toStdString();
        return jobLabelled(source.list(), label);
    }

    std::unique_ptr<CronSandbox::Scratch> scratch;
    std::shared_ptr<CronRuns> m_runs = std::make_shared<CronRuns>();
};

} // namespace

TEST_F(CronSourceTest, ReadsTheTablesCronReadsAndSaysWhenTheOwnCannotBeRead)
{
    CronSource source(m_runs);
    JobSource::Listing listing = source.list();
    EXPECT_TRUE(listing.present) << "the crontab tool is there";
    EXPECT_TRUE(listing.jobs.isEmpty());
    EXPECT_EQ(listing.error, std::nullopt) << "no crontab for the user is no error";

    // What cron itself leaves alone: other names, and what is not a regular file. A FIFO would
    // stall the listing if it were opened.
    const QString folder = scratch->tablesFolder();
    scratch->write(scratch->systemTable(), "SHELL=/bin/sh\n17 * * * * root run-parts /x\n");
    scratch->write(folder + "/rotate", "0 0 1 * * www-data /usr/sbin/rotate\n");
    scratch->write(folder + "/rotate.dpkg-old", "0 0 1 * * root /old\n");
    scratch->write(folder + "/.placeholder", "0 0 1 * * root /hidden\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "/pipe"), 0644), 0);
    ASSERT_TRUE(QFile::link("/nonexistent", folder + "/gone"));
    ASSERT_TRUE(QDir().mkpath(folder + "/folder"));
    // A socket where the user's table should be: the tool cannot open it and says so.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(scratch->ownSpoolFile());
    ASSERT_LT(static_cast<size_t>(path.size()), sizeof address.sun_path);
    std::copy(path.cbegin(), path.cend(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    listing = source.list();
    ASSERT_TRUE(listing.error);
    EXPECT_TRUE(listing.error->startsWith(QStringLiteral("无法读取 crontab：")))
        << listing.error->toStdString();
    EXPECT_GT(listing.error->size(), QStringLiteral("无法读取 crontab：").size());
    EXPECT_EQ(labelsOf(listing), (QStringList{scratch->systemTable() + ":2", folder + "/rotate:1"}))
        << "the system's entries are still read";
    QFile::remove(scratch->ownSpoolFile());

    // Without the tool: the system's tables alone, as long as there are any.
    Platform::testing::setCrontabPath(scratch->home() + "/no-such-crontab");
    listing = source.list();
    EXPECT_TRUE(listing.present);
    EXPECT_EQ(listing.error, std::nullopt);
    EXPECT_EQ(listing.jobs.size(), 2);
    ASSERT_TRUE(QFile::remove(scratch->systemTable()));
    EXPECT_TRUE(source.list().present) << "the folder of tables is enough";
    ASSERT_TRUE(QDir(folder).removeRecursively());
    listing = source.list();
    EXPECT_FALSE(listing.present);
    EXPECT_TRUE(listing.jobs.isEmpty());
    EXPECT_EQ(listing.error, std::nullopt);
}

TEST_F(CronSourceTest, RunNowRunsTheCommandAsCronWould)
{
    scratch->installOwnTable("GREETING=hello\n"
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

    // How the row shows the run's end is the cron screen test's.
    EXPECT_EQ(inHome("greeting"), QStringLiteral("hello\n"));
    EXPECT_EQ(inHome("where"), scratch->home() + u'\n');
    EXPECT_EQ(inHome("input"), QStringLiteral("first\nsecond % line"));
    const QStringList descriptors = inHome("descriptors").split(u'\n');
    EXPECT_TRUE(descriptors.contains(QStringLiteral("0")));
    EXPECT_FALSE(descriptors.contains(QString::number(leaked))) << "the run keeps none of ours";
    ::close(leaked);
}

// SIGTERM first, then SIGKILL for the whole process group, also what the command left behind.
TEST_F(CronSourceTest, StopEndsTheWholeRunEvenOneThatIgnoresTheRequest)
{
    scratch->installOwnTable(
        "* * * * * trap '' TERM; sleep 300 & echo $! > background; sleep 300\n");
    m_runs->setStopGraceForTesting(std::chrono::milliseconds(300));
    CronSource source(m_runs);
    const Job running = startOwn(source, 1);
    ASSERT_TRUE(running.pid);
    EXPECT_EQ(running.actions, QList<JobAction>{JobAction::stop});
    EXPECT_EQ(::getsid(*running.pid), *running.pid) << "the run leads a session of its own";

    const JobSource::ActionResult again = source.perform(running, JobAction::start);
    EXPECT_FALSE(again.success);
    EXPECT_EQ(again.message, QStringLiteral("已在运行 (PID %1)").arg(*running.pid));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !inHome("background").isEmpty(); }, 20000));
    const qint32 background = inHome("background").trimmed().toInt();
    ASSERT_GT(background, 0);

    const JobSource::ActionResult stopped = source.perform(running, JobAction::stop);
    EXPECT_TRUE(stopped.success) << stopped.message.toStdString();
    EXPECT_EQ(jobLabelled(source.list(), QStringLiteral("crontab:1")).statusText,
              QStringLiteral("已停止 (退出码 -%1)").arg(SIGKILL));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !processAlive(background); }, 20000));
    EXPECT_TRUE(source.perform(running, JobAction::stop).success) << "an ended run needs no stop";
}

TEST_F(CronSourceTest, ARunOutlivesTheSourceThatStartedIt)
{
    const QString release = QDir(scratch->home()).filePath(QStringLiteral("release"));
    scratch->installOwnTable("* * * * * while [ ! -e release ]; do sleep 0.05; done; exit 4\n");
    auto started = std::make_unique<CronSource>(m_runs);
    const Job running = startOwn(*started, 1);
    ASSERT_TRUE(running.pid);
    started.reset();

    {
        CronSource later(m_runs);
        QSignalSpy changed(&later, &JobSource::changed);
        EXPECT_EQ(jobLabelled(later.list(), QStringLiteral("crontab:1")).pid, running.pid);
        scratch->write(release, "");
        ASSERT_TRUE(changed.wait(20000));
        EXPECT_EQ(jobLabelled(later.list(), QStringLiteral("crontab:1")).statusText,
                  QStringLiteral("已停止 (退出码 4)"));
    }

    // With no source and no owner left, the runs still wait for the run that is going, and go
    // once it has ended.
    ASSERT_TRUE(QFile::remove(release));
    auto last = std::make_unique<CronSource>(m_runs);
    const Job again = startOwn(*last, 1);
    ASSERT_TRUE(again.pid);
    const std::weak_ptr<CronRuns> runs = m_runs;
    last.reset();
    m_runs.reset();
    EXPECT_FALSE(runs.expired());
    scratch->write(release, "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs.expired(); }, 20000));
    EXPECT_FALSE(processAlive(*again.pid));
}

// Only what the user's table says now, as text, is run: never a system entry, an entry edited
// since it was listed, or a command that could not be read as UTF-8.
TEST_F(CronSourceTest, OnlyTheOwnEntriesAsListedCanBeRun)
{
    scratch->installOwnTable("# Sauvegarde g\xe9n\xe9rale\n* * * * * touch caf\xe9\n"
                             "* * * * * touch first\n");
    scratch->write(scratch->systemTable(), "* * * * * root touch system\n");
    CronSource source(m_runs);
    const JobSource::Listing listing = source.list();
    EXPECT_EQ(listing.error, std::nullopt);
    const Job unreadable = jobLabelled(listing, QStringLiteral("crontab:2"));
    const Job own = jobLabelled(listing, QStringLiteral("crontab:3"));
    const Job system = jobLabelled(listing, scratch->systemTable() + QStringLiteral(":1"));
    EXPECT_EQ(unreadable.name, QStringLiteral("Sauvegarde g\uFFFDn\uFFFDrale"));

    const QString unsupported = QStringLiteral("cron 条目不支持此操作");
    EXPECT_EQ(source.perform(system, JobAction::start).message, unsupported);
    EXPECT_EQ(source.perform(own, JobAction::load).message, unsupported);
    EXPECT_EQ(source.perform(own, JobAction::unload).message, unsupported);
    const JobSource::ActionResult notText = source.perform(unreadable, JobAction::start);
    EXPECT_FALSE(notText.success);
    EXPECT_EQ(notText.message,
              QStringLiteral("这一条目的命令不是有效的 UTF-8 文本，无法从这里运行"));

    scratch->installOwnTable("* * * * * touch second\n");
    const JobSource::ActionResult stale = source.perform(own, JobAction::start);
    EXPECT_FALSE(stale.success);
    EXPECT_EQ(stale.message, QStringLiteral("crontab 中的这一条目已更改或已删除，请刷新后重试"));
    QTest::qWait(200);
    const QStringList ran = QDir(scratch->home()).entryList(QDir::Files);
    EXPECT_TRUE(ran.isEmpty()) << ran.join(u' ').toStdString();
}

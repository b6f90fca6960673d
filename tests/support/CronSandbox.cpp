#include "CronSandbox.h"

#include "ProcessRunner.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char spoolPath[] = "/var/spool/cron/crontabs";

struct SpoolState {
    std::set<std::string> names;
    timespec modified{};

    bool operator==(const SpoolState& other) const
    {
        return names == other.names && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

std::optional<SpoolState> stateOf(int directoryFd)
{
    struct stat info {};
    if (::fstat(directoryFd, &info) != 0)
        return std::nullopt;
    // fdopendir takes the descriptor over, and reading moves its offset: read through a copy.
    DIR* directory = ::fdopendir(::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory)
        return std::nullopt;
    SpoolState state;
    state.modified = info.st_mtim;
    while (const dirent* entry = ::readdir(directory))
        state.names.insert(entry->d_name);
    ::closedir(directory);
    return state;
}

class PrivateSpool {
public:
    PrivateSpool() { m_reason = enter(); }

    ~PrivateSpool()
    {
        if (m_bound)
            ::umount2(spoolPath, MNT_DETACH);
        if (!m_scratch.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_scratch, ignored);
        }
        if (m_realFd >= 0)
            ::close(m_realFd);
    }

    const std::string& reason() const { return m_reason; }
    std::string spool() const { return m_scratch + "/crontabs"; }
    bool realUnchanged() const { return m_realBefore && stateOf(m_realFd) == m_realBefore; }

private:
    std::string enter()
    {
        if (::geteuid() != 0)
            return "the private spool needs root (a mount namespace and a bind mount)";
        if (::access("/usr/bin/crontab", X_OK) != 0)
            return "the crontab tool is not installed (Debian package cron)";
        m_realFd = ::open(spoolPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_realFd < 0)
            return std::string("no cron spool at ") + spoolPath;
        m_realBefore = stateOf(m_realFd);
        if (::unshare(CLONE_NEWNS) != 0)
            return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        // Nothing mounted from here on may reach the machine's namespace.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("making / private: ") + std::strerror(errno);
        char scratch[] = "/tmp/kestrow-cron-spool-XXXXXX";
        if (!::mkdtemp(scratch))
            return std::string("mkdtemp: ") + std::strerror(errno);
        m_scratch = scratch;
        // The spool's own owner and mode, which crontab checks.
        const std::string spoolCopy = spool();
        const group* crontabGroup = ::getgrnam("crontab");
        if (::mkdir(spoolCopy.c_str(), 0700) != 0 ||
            ::chown(spoolCopy.c_str(), 0, crontabGroup ? crontabGroup->gr_gid : 0) != 0 ||
            ::chmod(spoolCopy.c_str(), 01730) != 0) {
            return std::string("preparing the scratch spool: ") + std::strerror(errno);
        }
        if (::mount(spoolCopy.c_str(), spoolPath, nullptr, MS_BIND, nullptr) != 0)
            return std::string("binding the scratch spool: ") + std::strerror(errno);
        m_bound = true;
        return {};
    }

    std::string m_reason;
    std::string m_scratch;
    int m_realFd = -1;
    std::optional<SpoolState> m_realBefore;
    bool m_bound = false;
};

PrivateSpool& privateSpool()
{
    static PrivateSpool instance;
    return instance;
}

// Entered while static objects are made, before main() starts anything.
[[maybe_unused]] const bool enteredBeforeMain = (privateSpool(), true);

} // namespace

namespace CronSandbox {

std::optional<QString> unavailableReason()
{
    if (privateSpool().reason().empty())
        return std::nullopt;
    return QString::fromStdString(privateSpool().reason());
}

QString spool()
{
    return QString::fromStdString(privateSpool().spool());
}

bool realSpoolUnchanged()
{
    return privateSpool().realUnchanged();
}

Scratch::Scratch() : m_oldHome(qgetenv("HOME"))
{
    EXPECT_TRUE(m_dir.isValid());
    EXPECT_TRUE(QDir().mkpath(home()));
    EXPECT_TRUE(QDir().mkpath(tablesFolder()));
    qputenv("HOME", QFile::encodeName(home()));
    Platform::testing::setSystemCrontabPath(systemTable());
    Platform::testing::setCronTablesFolder(tablesFolder());
    QFile::remove(ownSpoolFile());
}

Scratch::~Scratch()
{
    QFile::remove(ownSpoolFile());
    Platform::testing::setCrontabPath(std::nullopt);
    Platform::testing::setSystemCrontabPath(std::nullopt);
    Platform::testing::setCronTablesFolder(std::nullopt);
    qputenv("HOME", m_oldHome);
}

QString Scratch::home() const
{
    return m_dir.filePath(QStringLiteral("home"));
}

QString Scratch::systemTable() const
{
    return m_dir.filePath(QStringLiteral("crontab"));
}

QString Scratch::tablesFolder() const
{
    return m_dir.filePath(QStringLiteral("cron.d"));
}

QString Scratch::ownSpoolFile() const
{
    return spool() + u'/' + Platform::loginName();
}

void Scratch::write(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(contents), contents.size());
}

void Scratch::installOwnTable(const QByteArray& contents)
{
    const QString path = m_dir.filePath(QStringLiteral("own-table"));
    write(path, contents);
    const ProcessRunner::Result installed =
        ProcessRunner::run(QStringLiteral("/usr/bin/crontab"), {path});
    ASSERT_EQ(installed.status, 0) << installed.stdErr.toStdString();
}

QString Scratch::inHome(const QString& name) const
{
    QFile file(QDir(home()).filePath(name));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace CronSandbox

#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>

#include <mutex>

#include <pwd.h>
#include <unistd.h>

namespace {

struct Overrides {
    std::mutex mutex;
    std::optional<QString> launchctlPath;
    std::optional<QString> lsofPath;
    std::optional<QStringList> launchdFolders;
};

Overrides& overrides()
{
    static Overrides instance;
    return instance;
}

} // namespace

namespace Platform {

QString lsofPath()
{
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        if (o.lsofPath)
            return *o.lsofPath;
    }
    static const QString path = [] {
        const QFileInfo sbin(QStringLiteral("/usr/sbin/lsof"));
        return sbin.isFile() && sbin.isExecutable() ? sbin.filePath()
                                                    : QStringLiteral("/usr/bin/lsof");
    }();
    return path;
}

QString launchctlPath()
{
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    return o.launchctlPath.value_or(QStringLiteral("/bin/launchctl"));
}

QList<QStringList> socketListingRuns()
{
    // Linux lsof applies a TCP state filter to UDP sockets too and then drops all of them, since
    // UDP has no states there: TCP listeners and UDP sockets need a run each.
    return {
        {QStringLiteral("-nP"), QStringLiteral("-iTCP"), QStringLiteral("-sTCP:LISTEN"),
         QStringLiteral("-FpcnuLPt")},
        {QStringLiteral("-nP"), QStringLiteral("-iUDP"), QStringLiteral("-FpcnuLPt")},
    };
}

QString homeDirectory()
{
    return QDir::homePath();
}

QString loginName()
{
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::fromLocal8Bit(qgetenv("USER"));
}

quint32 realUserId()
{
    return static_cast<quint32>(::getuid());
}

QStringList launchdFolders()
{
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        if (o.launchdFolders)
            return *o.launchdFolders;
    }
    return {
        homeDirectory() + QStringLiteral("/Library/LaunchAgents"),
        QStringLiteral("/Library/LaunchAgents"),
        QStringLiteral("/Library/LaunchDaemons"),
        QStringLiteral("/System/Library/LaunchAgents"),
        QStringLiteral("/System/Library/LaunchDaemons"),
    };
}

namespace testing {

void setLaunchctlPath(const std::optional<QString>& path)
{
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.launchctlPath = path;
}

void setLsofPath(const std::optional<QString>& path)
{
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.lsofPath = path;
}

void setLaunchdFolders(const std::optional<QStringList>& folders)
{
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.launchdFolders = folders;
}

} // namespace testing

} // namespace Platform

// cron's places, each with its test seam.
namespace {

struct CronOverrides {
    std::mutex mutex;
    std::optional<QString> crontabPath;
    std::optional<QString> systemCrontabPath;
    std::optional<QString> tablesFolder;
};

CronOverrides& cronOverrides()
{
    static CronOverrides instance;
    return instance;
}

QString cronPlace(std::optional<QString> CronOverrides::*place, const char* standard)
{
    auto& o = cronOverrides();
    std::lock_guard lock(o.mutex);
    return (o.*place).value_or(QString::fromLatin1(standard));
}

void setCronPlace(std::optional<QString> CronOverrides::*place, const std::optional<QString>& path)
{
    auto& o = cronOverrides();
    std::lock_guard lock(o.mutex);
    o.*place = path;
}

} // namespace

namespace Platform {

QString crontabPath()
{
    return cronPlace(&CronOverrides::crontabPath, "/usr/bin/crontab");
}

QString systemCrontabPath()
{
    return cronPlace(&CronOverrides::systemCrontabPath, "/etc/crontab");
}

QString cronTablesFolder()
{
    return cronPlace(&CronOverrides::tablesFolder, "/etc/cron.d");
}

namespace testing {

void setCrontabPath(const std::optional<QString>& path)
{
    setCronPlace(&CronOverrides::crontabPath, path);
}

void setSystemCrontabPath(const std::optional<QString>& path)
{
    setCronPlace(&CronOverrides::systemCrontabPath, path);
}

void setCronTablesFolder(const std::optional<QString>& folder)
{
    setCronPlace(&CronOverrides::tablesFolder, folder);
}

} // namespace testing

} // namespace Platform

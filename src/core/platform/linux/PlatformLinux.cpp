#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>

#include <array>
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

bool isMacOS()
{
    return false;
}

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

enum CronPlace { crontabTool, systemCrontab, cronTables, cronPlaceCount };

QString cronPlace(CronPlace place, const char* standard,
                  const std::optional<std::optional<QString>>& replacement = std::nullopt)
{
    static std::mutex mutex;
    static std::array<std::optional<QString>, cronPlaceCount> replaced;
    std::lock_guard lock(mutex);
    if (replacement)
        replaced[place] = *replacement;
    return replaced[place].value_or(QString::fromLatin1(standard));
}

} // namespace

namespace Platform {

QString crontabPath()
{
    return cronPlace(crontabTool, "/usr/bin/crontab");
}

QString systemCrontabPath()
{
    return cronPlace(systemCrontab, "/etc/crontab");
}

QString cronTablesFolder()
{
    return cronPlace(cronTables, "/etc/cron.d");
}

namespace testing {

void setCrontabPath(const std::optional<QString>& path)
{
    cronPlace(crontabTool, "", path);
}

void setSystemCrontabPath(const std::optional<QString>& path)
{
    cronPlace(systemCrontab, "", path);
}

void setCronTablesFolder(const std::optional<QString>& folder)
{
    cronPlace(cronTables, "", folder);
}

} // namespace testing

} // namespace Platform

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Everything the program needs to know of the operating system. One implementation per system,
// chosen by the build.
namespace Platform {

// The socket-listing tool and the launchd tool, by absolute path.
QString lsofPath();
QString launchctlPath();

// The argument lists of the socket listing; their outputs are parsed as one text, in this order.
QList<QStringList> socketListingRuns();

// The current user's home directory, read afresh on every call.
QString homeDirectory();
// The login name of the user running the program.
QString loginName();
// The real user id of the program.
quint32 realUserId();

// The five folders that hold launchd job definitions, in the order in which they are read.
QStringList launchdFolders();

// A running desktop application.
struct RunningApplication {
    qint32 pid = 0;
    std::optional<QString> localizedName;
    std::optional<QString> bundleIdentifier;
    // An icon name for the icon theme, or an absolute path of an icon file.
    std::optional<QString> iconName;
};

// The running desktop applications, in the registry's order.
QList<RunningApplication> runningApplications();
// The running desktop application with this process identifier, if any.
std::optional<RunningApplication> runningApplication(qint32 pid);

// An installed desktop application.
struct InstalledApplication {
    QString path;
    std::optional<QString> iconName;
};

// The installed application with this bundle identifier, if any.
std::optional<InstalledApplication> installedApplication(const QString& bundleID);

// Seams for tests: they point the program at fakes. The shipped program never calls them.
namespace testing {
void setLaunchctlPath(const std::optional<QString>& path);
void setLsofPath(const std::optional<QString>& path);
void setLaunchdFolders(const std::optional<QStringList>& folders);
} // namespace testing

// cron: the crontab tool, the system table and the folder of further system tables, by absolute
// path.
QString crontabPath();
QString systemCrontabPath();
QString cronTablesFolder();

namespace testing {
void setCrontabPath(const std::optional<QString>& path);
void setSystemCrontabPath(const std::optional<QString>& path);
void setCronTablesFolder(const std::optional<QString>& folder);
} // namespace testing

} // namespace Platform

#pragma once

// The pieces of the Linux running-application registry, open to tests and fuzzers. Not part of
// the library's contract.

#include "platform/Platform.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Platform::detail {

// The freedesktop application unit a process runs in.
struct ApplicationUnit {
    // The cgroup hierarchy line the unit was found on ("0:" or "1:name=systemd", say).
    QString hierarchy;
    // The cgroup path up to and including the unit, e.g. /user.slice/.../app-org.foo.Bar-12.scope.
    QString unitPath;
    // The desktop-entry ID, e.g. org.foo.Bar.
    QString desktopId;

    bool operator==(const ApplicationUnit&) const = default;
};

// The desktop-entry ID named by one unit: app-[launcher-]ID-N.scope, app-[launcher-]ID@N.service
// (or app-[launcher-]ID.service), app-[launcher-]ID.slice. Escapes such as \x2d are decoded.
std::optional<QString> desktopIdOfUnit(QStringView unitName);

// The innermost application unit in the contents of /proc/PID/cgroup (unified hierarchy first,
// then the systemd one).
std::optional<ApplicationUnit> applicationUnit(QStringView cgroupFile);

// The path on one hierarchy line of a cgroup file, the hierarchy being the line up to its second
// colon ("0:" for the unified one).
std::optional<QString> cgroupPath(QStringView cgroupFile, QStringView hierarchy);

struct DesktopEntry {
    std::optional<QString> name;
    std::optional<QString> icon;
    bool hidden = false;

    bool operator==(const DesktopEntry&) const = default;
};

// Reads the [Desktop Entry] group of a desktop file. Localized keys are looked up in the order
// of `locales` (e.g. zh_CN, zh), then unlocalized. No result when the group is missing.
std::optional<DesktopEntry> parseDesktopEntry(QByteArrayView contents, const QStringList& locales);

// $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share), each
// with /applications appended, in that order.
QStringList applicationFolders();

// The file of a desktop-entry ID in these folders: ID.desktop, or a sub-folder form where the ID's
// dashes stand for slashes. The first folder that has one wins.
std::optional<QString> findDesktopFile(const QString& desktopId, const QStringList& folders);

// The desktop applications among these processes, by pid; a parent that is not among them is
// looked up in a /proc-shaped folder.
QHash<qint32, RunningApplication> runningApplicationsAmong(const QString& procRoot,
                                                           const QList<ProcessFacts>& processes,
                                                           const QStringList& applicationFolders,
                                                           const QStringList& locales);

} // namespace Platform::detail

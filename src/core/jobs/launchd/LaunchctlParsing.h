#pragma once

// The inner steps of LaunchctlManager, open to its tests, fuzzers and benchmarks. Not part of the
// library's public face.

#include "CalendarSchedule.h"
#include "Models.h"
#include "ProcessRunner.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace LaunchctlManager {

// What one definition file contributes to the listing.
struct PlistInfo {
    QString path;
    std::optional<QString> program;
    std::optional<QString> schedule;
    // The calendar entries behind `schedule`, for when the job runs next.
    QList<CalendarSchedule> calendar;

    bool operator==(const PlistInfo&) const = default;
};

// The facts read from one definition file; all absent when it cannot be read or decoded.
struct PlistContents {
    std::optional<QString> label;
    std::optional<QString> program;
    std::optional<QString> schedule;
    QList<CalendarSchedule> calendar;

    bool operator==(const PlistContents&) const = default;
};

// One row of the launchd job table.
struct JobTableRow {
    std::optional<qint32> pid;
    qint32 lastExitStatus = 0;
    QString label;

    bool operator==(const JobTableRow&) const = default;
};

// Launchd definitions are a few KiB; anything beyond this is not one and is not read.
inline constexpr qint64 maxDefinitionFileSize = 4 * 1024 * 1024;
inline constexpr quint64 maxBinaryObjects = 16384;

// Label (or file stem) -> definition, over the launchd folders of the platform layer.
QHash<QString, PlistInfo> discoverPlistPaths();
QHash<QString, PlistInfo> discoverPlistPaths(const QStringList& folders);

PlistContents readPlist(const QString& path);
// The whole content of a regular file (symbolic links followed) of at most
// maxDefinitionFileSize bytes; absent for anything else.
std::optional<QByteArray> readDefinitionFile(const QString& path);
// Decodes an XML or binary property list and reads the keys the listing needs. Deeply nested
// input needs a large stack: the listing decodes on threads that have one.
PlistContents decodePlist(QByteArrayView bytes);

LaunchdJob::Domain domainForLabel(const QString& label, const std::optional<QString>& path);

// Values are those of a decoded property list: QString, qint64, double, bool, QVariantList,
// QVariantMap (and QByteArray for data and dates, which no rule reads).
std::optional<QString> scheduleDescription(const QVariantMap& plist);
QString describeCalendarEntry(const QVariantMap& entry);
QString humanInterval(qint64 seconds);
// The earliest next run of these calendar entries after `after`.
std::optional<QDateTime> nextCalendarRun(const QList<CalendarSchedule>& calendar,
                                         const QDateTime& after);

// The table printed by `launchctl list`: header skipped, short lines dropped.
QList<JobTableRow> parseJobTable(QStringView output);

// What a listing reads: the job table as `launchctl list` printed it, and the definitions, read
// while the tool runs.
struct LaunchdState {
    ProcessRunner::Result table;
    QHash<QString, PlistInfo> definitions;
};
LaunchdState readLaunchdState();

// Joins the rows with the definitions and sorts them by lower-cased label, keeping the tool's
// order among equal keys.
QList<LaunchdJob> joinJobs(const QList<JobTableRow>& rows,
                           const QHash<QString, PlistInfo>& definitions);

} // namespace LaunchctlManager

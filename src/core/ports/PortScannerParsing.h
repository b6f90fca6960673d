#pragma once

// The pieces of the port scanner's listing-tool path (where the system has no socket table of its
// own to read), open to tests, fuzzers and benchmarks. Not part of the library's contract.

#include "Models.h"
#include "PortScanner.h"
#include "platform/Platform.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace PortScanner::detail {

struct SocketAddress {
    QString host;
    qint64 port = 0;

    bool operator==(const SocketAddress&) const = default;
};

// Splits a socket name such as "[::1]:5432" into host and port. No result for connected sockets
// ("->"), names without a colon and ports that are not a decimal number.
std::optional<SocketAddress> parseAddress(QStringView name);

// lsof writes bytes it cannot print in the current locale as escapes (\xNN, \n, \t, \\, ^A, ...).
// Turns them back into bytes and reads those as UTF-8. Text that does not decode to valid UTF-8
// comes back unchanged.
QString decodeLsofText(QStringView value);

// The process identifiers the working-directory query asks for: each pid of 1 or more, once.
QList<qint32> workingDirPids(const QList<ServicePort>& ports);
// The query's arguments for these identifiers.
QStringList workingDirArguments(const QList<qint32>& pids);
// Reads the query's field output: pid -> the first directory named for it.
QHash<qint32, QString> parseWorkingDirs(QStringView output);

// Names, bundle identifiers and icons of the records whose process is a desktop application.
void applyRunningApps(QList<ServicePort>& ports,
                      const QHash<qint32, Platform::RunningApplication>& applications);
void applyWorkingDirs(QList<ServicePort>& ports, const QHash<qint32, QString>& directories);

// The two enrichment steps as the scan runs them, with the platform's registry and real lsof.
void enrichWithRunningApps(QList<ServicePort>& ports);
void enrichWithWorkingDir(QList<ServicePort>& ports);

// The whole scan through the listing tool: parsed and enriched, not yet sorted. A tool that cannot
// be started gives its launch failure as the error.
ScanResult lsofScan();

// Stable: by port, then protocol; ties keep the listing's order.
void sortByPortAndProtocol(QList<ServicePort>& ports);

} // namespace PortScanner::detail

#pragma once

// The pure pieces of the Linux /proc readers, open to tests and fuzzers. Not part of the library's
// contract.

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Platform::detail {

// The fields of /proc/PID/stat the program uses.
struct StatFields {
    QByteArray command;
    qint32 parentPid = 0;
    quint64 startTime = 0;

    bool operator==(const StatFields&) const = default;
};

// "pid (comm) state ppid ... starttime ...": the command may itself hold spaces and parentheses.
std::optional<StatFields> parseStat(QByteArrayView stat);

// The arguments of /proc/PID/cmdline, which ends each with a NUL byte.
QByteArrayList splitCommandLine(QByteArrayView cmdline);

// The inode of a descriptor link's target "socket:[12345]", if it names a socket.
std::optional<quint64> socketInodeOfLink(QByteArrayView target);

// The effective user id on the "Uid:" line of /proc/PID/status.
std::optional<quint32> effectiveUidFromStatus(QByteArrayView status);

// The path that names a process's units in the contents of /proc/PID/cgroup: the unified
// hierarchy's ("0::/path"), unless that is the root, then the systemd one's.
QString unitCgroupPath(QByteArrayView cgroupFile);

} // namespace Platform::detail

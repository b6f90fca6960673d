#pragma once

#include "ContainerDescription.h"
#include "ServiceUnit.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>
#include <QUuid>

#include <optional>

// One listening TCP socket or unconnected UDP socket, with the process that owns it.
struct ServicePort {
    QUuid id;
    qint64 port = 0;
    QString networkProtocol;
    QString address;
    // 0 when the owner cannot be seen (another user's process, for a scan that is not root's).
    qint32 pid = 0;
    QString command;
    QString user;
    std::optional<QString> appName;
    std::optional<QString> bundleID;
    std::optional<QString> workingDir;
    // The fields below are absent unless set, so that a record can still be written with the ten
    // above alone.
    // The owning process's full command line (its arguments joined by spaces) and its start time
    // (an opaque per-platform value: on Linux the clock ticks since boot of /proc/PID/stat).
    std::optional<QString> commandLine = std::nullopt;
    std::optional<quint64> startTime = std::nullopt;
    // The icon named by the desktop application's entry: a theme name or an absolute file path.
    std::optional<QString> iconName = std::nullopt;
    // The working directory's bytes, when they are not UTF-8 (workingDir then shows the bytes
    // that do not decode as \xNN).
    std::optional<QByteArray> workingDirBytes = std::nullopt;
    // The systemd service the process runs in.
    std::optional<ServiceUnit> service = std::nullopt;
    // The container behind the socket: its process is an engine's helper or runs in the
    // container, or (where the process cannot be seen) an engine says the container publishes it.
    std::optional<Containers::ContainerDescription> container = std::nullopt;

    // The application's name when the process belongs to one (even an empty name), else the
    // command.
    QString displayName() const;
    // The working directory, or the empty text when there is none.
    QString workingDirSortKey() const;
    // The working directory with the home directory shortened to "~".
    std::optional<QString> displayWorkingDir() const;
    // The working directory as the file system names it, to open it by.
    QByteArray workingDirPath() const;

    bool operator==(const ServicePort&) const = default;
};

size_t qHash(const ServicePort& port, size_t seed = 0);

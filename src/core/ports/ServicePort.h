#pragma once

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
    qint32 pid = 0;
    QString command;
    QString user;
    std::optional<QString> appName;
    std::optional<QString> bundleID;
    std::optional<QString> workingDir;

    // The application's name when the process belongs to one (even an empty name), else the command.
    QString displayName() const;
    // The working directory, or the empty text when there is none.
    QString workingDirSortKey() const;
    // The working directory with the home directory shortened to "~".
    std::optional<QString> displayWorkingDir() const;

    bool operator==(const ServicePort&) const = default;
};

size_t qHash(const ServicePort& port, size_t seed = 0);

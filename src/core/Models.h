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

// One job of the launchd job table, joined with its definition file.
struct LaunchdJob {
    enum class Domain { userAgent, globalAgent, systemDaemon, unknown };

    QUuid id;
    QString label;
    std::optional<qint32> pid;
    qint32 lastExitStatus = 0;
    Domain domain = Domain::unknown;
    std::optional<QString> plistPath;
    std::optional<QString> program;
    std::optional<QString> schedule;

    QString statusText() const;
    QString friendlyName() const;

    bool operator==(const LaunchdJob&) const = default;
};

size_t qHash(const LaunchdJob& job, size_t seed = 0);

// The display name of a domain, which is also its raw value.
QString rawValue(LaunchdJob::Domain domain);
std::optional<LaunchdJob::Domain> domainFromRawValue(const QString& text);
// Every domain, in declaration order.
const QList<LaunchdJob::Domain>& allDomains();

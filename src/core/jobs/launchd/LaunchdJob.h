#pragma once

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

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

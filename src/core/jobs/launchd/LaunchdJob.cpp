#include "Models.h"

#include <QList>
#include <QStringList>

QString LaunchdJob::statusText() const
{
    if (pid)
        return QStringLiteral("运行中 (PID %1)").arg(*pid);
    if (lastExitStatus == 0)
        return QStringLiteral("已停止");
    return QStringLiteral("已停止 (退出码 %1)").arg(lastExitStatus);
}

QString LaunchdJob::friendlyName() const
{
    QStringList pieces = label.split(u'.', Qt::SkipEmptyParts);
    // Reverse-domain labels carry the vendor in their first two pieces.
    if (label.startsWith(QLatin1String("com.")) || label.startsWith(QLatin1String("org.")) ||
        label.startsWith(QLatin1String("io.")))
        pieces.remove(0, std::min<qsizetype>(2, pieces.size()));
    QString name = pieces.join(u'.');
    if (name.isEmpty())
        name = label;
    name.replace(u'-', u' ');
    name.replace(u'_', u' ');
    return name;
}

size_t qHash(const LaunchdJob& job, size_t seed)
{
    QtPrivate::QHashCombine hash;
    const auto optional = [&](const auto& value) {
        seed = hash(seed, value.has_value());
        if (value)
            seed = hash(seed, *value);
    };
    seed = hash(seed, job.id);
    seed = hash(seed, job.label);
    optional(job.pid);
    seed = hash(seed, job.lastExitStatus);
    seed = hash(seed, rawValue(job.domain));
    optional(job.plistPath);
    optional(job.program);
    optional(job.schedule);
    return seed;
}

QString rawValue(LaunchdJob::Domain domain)
{
    switch (domain) {
    case LaunchdJob::Domain::userAgent:
        return QStringLiteral("用户 Agent");
    case LaunchdJob::Domain::globalAgent:
        return QStringLiteral("全局 Agent");
    case LaunchdJob::Domain::systemDaemon:
        return QStringLiteral("系统 Daemon");
    case LaunchdJob::Domain::unknown:
        break;
    }
    return QStringLiteral("其他");
}

std::optional<LaunchdJob::Domain> domainFromRawValue(const QString& text)
{
    for (const LaunchdJob::Domain domain : allDomains()) {
        if (rawValue(domain) == text)
            return domain;
    }
    return std::nullopt;
}

const QList<LaunchdJob::Domain>& allDomains()
{
    static const QList<LaunchdJob::Domain> domains{
        LaunchdJob::Domain::userAgent,
        LaunchdJob::Domain::globalAgent,
        LaunchdJob::Domain::systemDaemon,
        LaunchdJob::Domain::unknown,
    };
    return domains;
}

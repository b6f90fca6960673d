#include "Models.h"

#include "platform/Platform.h"

namespace {

size_t hashOptional(size_t seed, const std::optional<QString>& text)
{
    seed = qHashMulti(seed, text.has_value());
    return text ? qHashMulti(seed, *text) : seed;
}

} // namespace

QString ServicePort::displayName() const
{
    return appName ? *appName : command;
}

QString ServicePort::workingDirSortKey() const
{
    return workingDir.value_or(QString());
}

std::optional<QString> ServicePort::displayWorkingDir() const
{
    if (!workingDir)
        return std::nullopt;
    const QString home = Platform::homeDirectory();
    // Without a home directory every absolute path would start with "/" and turn into "~/...".
    if (home.isEmpty())
        return workingDir;
    if (*workingDir == home)
        return QStringLiteral("~");
    if (workingDir->size() > home.size() && workingDir->startsWith(home) &&
        workingDir->at(home.size()) == QLatin1Char('/')) {
        return QLatin1Char('~') + workingDir->mid(home.size());
    }
    return workingDir;
}

size_t qHash(const ServicePort& port, size_t seed)
{
    seed = qHashMulti(seed, port.id, port.port, port.networkProtocol, port.address, port.pid,
                      port.command, port.user);
    seed = hashOptional(seed, port.appName);
    seed = hashOptional(seed, port.bundleID);
    return hashOptional(seed, port.workingDir);
}

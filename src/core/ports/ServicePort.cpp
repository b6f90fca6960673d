#include "Models.h"

#include "platform/Platform.h"

#include <QFile>

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

QByteArray ServicePort::workingDirPath() const
{
    if (workingDirBytes)
        return *workingDirBytes;
    return workingDir ? QFile::encodeName(*workingDir) : QByteArray();
}

size_t qHash(const ServicePort& port, size_t seed)
{
    seed = qHashMulti(seed, port.id, port.port, port.networkProtocol, port.address, port.pid,
                      port.command, port.user);
    seed = hashOptional(seed, port.appName);
    seed = hashOptional(seed, port.bundleID);
    seed = hashOptional(seed, port.workingDir);
    seed = hashOptional(seed, port.commandLine);
    seed = qHashMulti(seed, port.startTime.has_value(), port.startTime.value_or(0));
    seed = hashOptional(seed, port.iconName);
    seed = qHashMulti(seed, port.workingDirBytes.has_value(), port.workingDirBytes.value_or(""));
    seed = qHashMulti(seed, port.service.has_value());
    if (port.service)
        seed = qHash(*port.service, seed);
    seed = qHashMulti(seed, port.container.has_value());
    return port.container ? qHash(*port.container, seed) : seed;
}

#include "EngineSockets.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace Containers {
namespace {

std::optional<QString> runtimeDir(const QProcessEnvironment& environment)
{
    const QString dir = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    return dir.startsWith(u'/') ? std::optional<QString>(dir) : std::nullopt;
}

bool isUnixSocket(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace

QList<EngineSocket> socketCandidates(const QProcessEnvironment& environment)
{
    QList<EngineSocket> candidates;
    const QString dockerHost = environment.value(QStringLiteral("DOCKER_HOST"));
    const QLatin1String unixScheme("unix://");
    if (dockerHost.startsWith(unixScheme) && dockerHost.size() > unixScheme.size())
        candidates.append({Engine::docker, dockerHost.mid(unixScheme.size())});
    candidates.append({Engine::docker, QStringLiteral("/var/run/docker.sock")});
    const auto userDir = runtimeDir(environment);
    if (userDir)
        candidates.append({Engine::docker, *userDir + QStringLiteral("/docker.sock")});
    candidates.append({Engine::podman, QStringLiteral("/run/podman/podman.sock")});
    if (userDir)
        candidates.append({Engine::podman, *userDir + QStringLiteral("/podman/podman.sock")});
    return candidates;
}

QList<EngineSocket> findEngines(const QProcessEnvironment& environment)
{
    QList<EngineSocket> engines;
    QSet<QString> places;
    bool haveDocker = false;
    for (const EngineSocket& candidate : socketCandidates(environment)) {
        if ((candidate.engine == Engine::docker && haveDocker) || !isUnixSocket(candidate.path))
            continue;
        haveDocker = haveDocker || candidate.engine == Engine::docker;
        const QString place = QFileInfo(candidate.path).canonicalFilePath();
        if (places.contains(place))
            continue;
        places.insert(place);
        engines.append(candidate);
    }
    return engines;
}

} // namespace Containers

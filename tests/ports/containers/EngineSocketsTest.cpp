#include "EngineSockets.h"
#include "Printing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Containers;

namespace {

QProcessEnvironment environment(const QList<std::pair<QString, QString>>& variables)
{
    QProcessEnvironment result;
    for (const auto& [name, value] : variables)
        result.insert(name, value);
    return result;
}

// Leaves a unix socket file at the path, as an engine that was started once does.
bool makeSocketFile(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(bytes.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Only what lies in the test's folder: the machine may have engines of its own.
QList<EngineSocket> foundIn(const QTemporaryDir& dir, const QProcessEnvironment& environment)
{
    QList<EngineSocket> found;
    for (const EngineSocket& engine : findEngines(environment)) {
        if (engine.path.startsWith(dir.path()))
            found.append(engine);
    }
    return found;
}

} // namespace

TEST(EngineSockets, CandidatesFollowTheEnvironment)
{
    const EngineSocket systemDocker{Engine::docker, "/var/run/docker.sock"};
    const EngineSocket systemPodman{Engine::podman, "/run/podman/podman.sock"};
    const std::vector<std::pair<QProcessEnvironment, QList<EngineSocket>>> cases{
        {environment({}), {systemDocker, systemPodman}},
        {environment({{"DOCKER_HOST", "unix:///home/dev/.docker/run/docker.sock"},
                      {"XDG_RUNTIME_DIR", "/run/user/1000"}}),
         {{Engine::docker, "/home/dev/.docker/run/docker.sock"},
          systemDocker,
          {Engine::docker, "/run/user/1000/docker.sock"},
          systemPodman,
          {Engine::podman, "/run/user/1000/podman/podman.sock"}}},
        // Engines elsewhere than on a unix socket are not asked.
        {environment({{"DOCKER_HOST", "tcp://127.0.0.1:2375"}}), {systemDocker, systemPodman}},
        {environment({{"DOCKER_HOST", "ssh://dev@build"}}), {systemDocker, systemPodman}},
        {environment({{"DOCKER_HOST", "unix://"}}), {systemDocker, systemPodman}},
        // A runtime folder must be absolute.
        {environment({{"XDG_RUNTIME_DIR", "run/user/1000"}}), {systemDocker, systemPodman}},
        {environment({{"XDG_RUNTIME_DIR", ""}}), {systemDocker, systemPodman}},
    };
    for (const auto& [variables, expected] : cases)
        EXPECT_EQ(socketCandidates(variables), expected)
            << variables.toStringList().join(' ').toStdString();
}

TEST(EngineSockets, FindsTheSocketsThatExist)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath("podman"));
    const QString docker = dir.filePath("docker.sock"), podman = dir.filePath("podman/podman.sock");
    ASSERT_TRUE(makeSocketFile(docker));
    ASSERT_TRUE(makeSocketFile(podman));
    QFile plain(dir.filePath("plain-file"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));

    // DOCKER_HOST first when it is a socket; a plain file or nothing there is passed over.
    const QString other = dir.filePath("podman");
    EXPECT_EQ(foundIn(dir, environment({{"DOCKER_HOST", "unix://" + podman},
                                        {"XDG_RUNTIME_DIR", dir.path()}})),
              (QList<EngineSocket>{{Engine::docker, podman}}))
        << "one place is asked once, as the first engine that names it";
    if (!QFile::exists("/var/run/docker.sock")) {
        for (const QString& notASocket : {plain.fileName(), dir.filePath("missing.sock"), other}) {
            EXPECT_EQ(foundIn(dir, environment({{"DOCKER_HOST", "unix://" + notASocket},
                                                {"XDG_RUNTIME_DIR", dir.path()}})),
                      (QList<EngineSocket>{{Engine::docker, docker}, {Engine::podman, podman}}))
                << notASocket.toStdString();
        }
    }

    // docker.sock leading to Podman's socket (podman-docker does this): one engine, asked once.
    ASSERT_TRUE(QFile::remove(docker));
    ASSERT_TRUE(QFile::link(podman, docker));
    if (!QFile::exists("/var/run/docker.sock")) {
        EXPECT_EQ(foundIn(dir, environment({{"XDG_RUNTIME_DIR", dir.path()}})),
                  (QList<EngineSocket>{{Engine::docker, docker}}));
    }
    EXPECT_TRUE(foundIn(dir, environment({})).isEmpty());
}

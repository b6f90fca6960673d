#include "EngineSockets.h"
#include "Printing.h"
#include "StandInEngine.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Containers;

namespace {

QProcessEnvironment environment(const QString& dockerHost, const QString& runtimeDir)
{
    QProcessEnvironment result;
    if (!dockerHost.isNull())
        result.insert("DOCKER_HOST", dockerHost);
    if (!runtimeDir.isNull())
        result.insert("XDG_RUNTIME_DIR", runtimeDir);
    return result;
}

} // namespace

TEST(EngineSockets, CandidatesFollowTheEnvironment)
{
    const QList<EngineSocket> systemOnly{{Engine::docker, "/var/run/docker.sock"},
                                         {Engine::podman, "/run/podman/podman.sock"}};
    EXPECT_EQ(socketCandidates(environment({}, {})), systemOnly);
    EXPECT_EQ(
        socketCandidates(environment("unix:///home/dev/.docker/run/docker.sock", "/run/user/1000")),
        (QList<EngineSocket>{{Engine::docker, "/home/dev/.docker/run/docker.sock"},
                             systemOnly[0],
                             {Engine::docker, "/run/user/1000/docker.sock"},
                             systemOnly[1],
                             {Engine::podman, "/run/user/1000/podman/podman.sock"}}));
    // Engines elsewhere than on a unix socket are not asked; a runtime folder must be absolute.
    for (const char* dockerHost : {"tcp://127.0.0.1:2375", "ssh://dev@build", "unix://"})
        EXPECT_EQ(socketCandidates(environment(dockerHost, "run/user/1000")), systemOnly);
}

TEST(EngineSockets, FindsTheSocketsThatExist)
{
    if (QFile::exists("/var/run/docker.sock") || QFile::exists("/run/podman/podman.sock"))
        GTEST_SKIP() << "this machine's own engines would come first";
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("podman"));
    const QString docker = dir.filePath("docker.sock"), podman = dir.filePath("podman/podman.sock");
    // Socket files left behind, as by an engine that ran once.
    StandInEngine(docker, {});
    StandInEngine(podman, {});
    const QList<EngineSocket> both{{Engine::docker, docker}, {Engine::podman, podman}};

    // DOCKER_HOST that names no socket is passed over; one that names Podman's is asked once.
    for (const QString& notASocket : {dir.filePath("podman"), dir.filePath("missing.sock")})
        EXPECT_EQ(findEngines(environment("unix://" + notASocket, dir.path())), both);
    EXPECT_EQ(findEngines(environment("unix://" + podman, dir.path())),
              (QList<EngineSocket>{{Engine::docker, podman}}));
    // docker.sock leading to Podman's socket, as podman-docker sets it up.
    ASSERT_TRUE(QFile::remove(docker) && QFile::link(podman, docker));
    EXPECT_EQ(findEngines(environment({}, dir.path())),
              (QList<EngineSocket>{{Engine::docker, docker}}));
    EXPECT_TRUE(findEngines(environment({}, {})).isEmpty());
}

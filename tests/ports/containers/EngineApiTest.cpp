#include "ContainerLookup.h"
#include "Printing.h"
#include "ProcessRunner.h"
#include "StandInEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Containers;
using Request = StandInEngine::Request;
using Reply = StandInEngine::Reply;

namespace {

const QByteArray someId = "4b5e57f6eb2f42b9039b3d1e13929295f231749c510cbe341cd68036d9af97e2";

Request get(const QByteArray& target)
{
    return {"GET", target};
}

StandInEngine::Responder pingThen(const Reply& reply)
{
    return StandInEngine::afterPing(StandInEngine::ping(), reply);
}

class EngineApiTest : public ::testing::Test {
protected:
    QString path(const QString& name = QStringLiteral("docker.sock")) const
    {
        return m_dir.filePath(name);
    }
    // Lists the stand-in at path(), which is gone again afterwards.
    EngineListing listWith(StandInEngine::Responder responder, std::chrono::milliseconds limit = 2s,
                           QList<Request>* requests = nullptr) const
    {
        StandInEngine engine(path(), std::move(responder));
        EngineListing listing = listContainers({Engine::docker, path()}, limit);
        if (requests)
            *requests = engine.requests();
        QFile::remove(path());
        return listing;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(EngineApiTest, NegotiatesTheVersionThenLists)
{
    const Reply noVersion = StandInEngine::json(200, "{}");
    const Reply docker26 = StandInEngine::recorded("docker/version.http");
    const std::vector<std::tuple<QByteArray, Reply, QList<Request>>> cases{
        {"1.45", noVersion, {get("/_ping"), get("/v1.45/containers/json")}},
        // An engine newer than this program is spoken to in this program's version.
        {"1.50", noVersion, {get("/_ping"), get("/v1.47/containers/json")}},
        // Versions compare as numbers.
        {"1.9", noVersion, {get("/_ping"), get("/v1.9/containers/json")}},
        {"", docker26, {get("/_ping"), get("/version"), get("/v1.45/containers/json")}},
        {"", noVersion, {get("/_ping"), get("/version"), get("/containers/json")}},
    };
    for (const auto& [pingVersion, version, expected] : cases) {
        QList<Request> requests;
        const EngineListing listing = listWith(
            [&](const Request& request) {
                if (request.target == "/_ping")
                    return StandInEngine::ping(pingVersion);
                return request.target == "/version"
                           ? version
                           : StandInEngine::recorded("docker/containers.http");
            },
            2s, &requests);
        EXPECT_EQ(listing.problem, std::nullopt);
        EXPECT_EQ(listing.containers.size(), 8);
        EXPECT_EQ(requests, expected) << pingVersion.constData();
    }
    QList<Request> requests;
    EXPECT_EQ(
        listWith(StandInEngine::recordedEngine("podman"), 2s, &requests).containers.first().name(),
        "pg");
    EXPECT_EQ(requests.last(), get("/v1.41/containers/json"));
}

// Whatever goes wrong, the listing is empty and says why; one time limit holds for all steps.
TEST_F(EngineApiTest, FailuresComeBackAsReasons)
{
    const QByteArray body = StandInEngine::recordedBody("docker/containers.http");
    const QByteArray head = "HTTP/1.1 200 OK\nContent-Type: application/json";
    const Reply denied =
        StandInEngine::json(403, R"({"message":"authorization denied by plugin"})");
    const QString refused = " 返回 HTTP 403：authorization denied by plugin";
    const QString broken = " 的应答不完整或不是 HTTP", malformed = " 返回的数据无法解析";
    const std::vector<std::tuple<StandInEngine::Responder, std::chrono::milliseconds, QString>>
        cases{
            {StandInEngine::afterPing(denied, denied), 2s, refused},
            {pingThen(denied), 2s, refused},
            {pingThen(StandInEngine::answer(head, body.left(900))), 2s, malformed},
            {pingThen(StandInEngine::json(200, "{}")), 2s, malformed},
            {StandInEngine::afterPing(StandInEngine::ping(""), StandInEngine::answer(head, "26.1")),
             2s, malformed},
            {StandInEngine::afterPing({Reply::Action::answer, "SSH-2.0-OpenSSH_9.2p1\r\n"}, {}), 2s,
             broken},
            {StandInEngine::afterPing({Reply::Action::close, {}}, {}), 2s, broken},
            {pingThen({Reply::Action::close,
                       "HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\n" + body.left(90)}),
             2s, broken},
            {pingThen(
                 StandInEngine::answer(head, QByteArray(EngineConnection::maxBodySize + 1, ' '))),
             2s, " 返回的数据过多"},
            // A prompt ping, then a listing that stalls before or inside its body.
            {pingThen(StandInEngine::hang()), 300ms, " 在 0.3 秒内没有应答"},
            {pingThen({Reply::Action::hang,
                       StandInEngine::recorded("docker/containers.http").bytes.left(600)}),
             300ms, " 在 0.3 秒内没有应答"},
        };
    for (const auto& [responder, limit, reason] : cases) {
        const EngineListing listing = listWith(responder, limit);
        ASSERT_TRUE(listing.problem) << reason.toStdString();
        EXPECT_EQ(listing.problem->reason(), path() + reason);
        EXPECT_TRUE(listing.containers.isEmpty()) << reason.toStdString();
    }
    // No engine behind the socket file any more, and no socket file.
    {
        StandInEngine gone(path(), {});
    }
    ASSERT_TRUE(QFile::exists(path()));
    EXPECT_EQ(listContainers({Engine::docker, path()}).problem->reason(), "无法连接 " + path());
    QFile::remove(path());
    EXPECT_EQ(listContainers({Engine::docker, path()}).problem->kind,
              EngineProblem::Kind::unreachable);
}

TEST_F(EngineApiTest, AUserOutsideTheDockerGroupIsToldSo)
{
    // The socket as Docker leaves it, root's and its group's; the probe runs as "nobody" (or, when
    // this test is not root, as this user after the mode is taken away).
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    StandInEngine engine(path(), StandInEngine::recordedEngine("docker"));
    const QByteArray socket = QFile::encodeName(path());
    ASSERT_EQ(::chmod(socket.constData(), ::geteuid() == 0 ? 0660 : 0), 0);
    const auto run = ProcessRunner::run(QStringLiteral(ENGINE_PROBE), {path()});
    EXPECT_EQ(run.stdOut.trimmed(), "没有权限连接 " + path()) << run.status;
    EXPECT_TRUE(engine.requests().isEmpty());
    ASSERT_EQ(::chmod(socket.constData(), 0660), 0);
    EXPECT_EQ(listContainers({Engine::docker, path()}).containers.size(), 8);
}

TEST_F(EngineApiTest, StopsContainers)
{
    const std::vector<std::pair<Reply, StopResult>> cases{
        {StandInEngine::json(204, ""), {true, ""}},
        {StandInEngine::json(304, ""), {true, ""}}, // was not running
        {StandInEngine::json(404, R"({"message":"No such container: web"})"),
         {false, "No such container: web"}},
        {StandInEngine::answer("HTTP/1.1 500 Oops", "cannot stop container: permission denied\n"),
         {false, "cannot stop container: permission denied"}},
        {StandInEngine::answer("HTTP/1.1 500 Oops", ""), {false, "HTTP 500"}},
    };
    for (const auto& [reply, expected] : cases) {
        StandInEngine engine(path(), pingThen(reply));
        EXPECT_EQ(stopContainer(path(), someId), expected);
        EXPECT_EQ(engine.requests().value(1),
                  (Request{"POST", "/v1.45/containers/" + someId + "/stop?t=10"}));
        QFile::remove(path());
    }
    {
        // Whatever an id holds, it stays one path segment.
        StandInEngine engine(path(), pingThen(StandInEngine::json(204, "")));
        EXPECT_TRUE(stopContainer(path(), "../../_ping?x#y").success);
        EXPECT_EQ(engine.requests().value(1).target,
                  "/v1.45/containers/..%2F..%2F_ping%3Fx%23y/stop?t=10");
    }
    QFile::remove(path());
    EXPECT_EQ(stopContainer(path(), someId), (StopResult{false, "无法连接 " + path()}));
    StandInEngine stuck(path(), pingThen(StandInEngine::hang()));
    EXPECT_EQ(stopContainer(path(), someId, 300ms),
              (StopResult{false, path() + " 在 0.3 秒内没有应答"}));
}

TEST_F(EngineApiTest, ListsEveryEngineOfTheEnvironmentSideBySide)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkpath("podman"));
    StandInEngine docker(path(), [](const Request&) { return StandInEngine::hang(); });
    StandInEngine podman(path("podman/podman.sock"), StandInEngine::recordedEngine("podman"));
    QProcessEnvironment environment;
    environment.insert("DOCKER_HOST", "unix://" + path());
    environment.insert("XDG_RUNTIME_DIR", m_dir.path());

    QList<EngineListing> listings;
    for (const EngineListing& listing : startListing(environment, 500ms).get()) {
        if (listing.socket.path.startsWith(m_dir.path())) // the machine may have engines too
            listings.append(listing);
    }
    ASSERT_EQ(listings.size(), 2);
    ASSERT_TRUE(listings[0].problem);
    EXPECT_EQ(listings[0].problem->kind, EngineProblem::Kind::timedOut);
    EXPECT_EQ(listings[1].socket, (EngineSocket{Engine::podman, path("podman/podman.sock")}));
    EXPECT_EQ(listings[1].containers.size(), 2);

    // Listings on several threads at once.
    std::vector<std::future<EngineListing>> scans;
    StandInEngine again(path("again.sock"), StandInEngine::recordedEngine("docker"));
    for (int i = 0; i < 4; ++i)
        scans.push_back(std::async(std::launch::async, [&] {
            return listContainers({Engine::docker, path("again.sock")});
        }));
    for (auto& scan : scans)
        EXPECT_EQ(scan.get().containers.size(), 8);
}

#include "ContainerLookup.h"
#include "Printing.h"
#include "ProcessRunner.h"
#include "StandInEngine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Containers;
using Request = StandInEngine::Request;
using Reply = StandInEngine::Reply;
using Kind = EngineProblem::Kind;

namespace {

const QString someId =
    QStringLiteral("4b5e57f6eb2f42b9039b3d1e13929295f231749c510cbe341cd68036d9af97e2");

Reply hang(const QByteArray& first = QByteArray())
{
    return {Reply::Action::hang, first};
}

// A Docker 26 engine as recorded, with the listing sent in chunks when asked.
StandInEngine::Responder recordedDocker(bool chunked = false)
{
    return [chunked](const Request& request) {
        if (request.target == "/_ping")
            return StandInEngine::answer(StandInEngine::recorded("docker/_ping.http"));
        if (request.target == "/version")
            return StandInEngine::answer(StandInEngine::recorded("docker/version.http"));
        if (request.target == "/v1.45/containers/json")
            return StandInEngine::answer(
                StandInEngine::recorded("docker/containers.http", chunked));
        return StandInEngine::json(404, R"({"message":"page not found"})");
    };
}

// Pings recorded from Docker, with the Api-Version header replaced (or left out when empty).
Reply pingWithVersion(const QByteArray& version)
{
    QByteArray head = "HTTP/1.1 200 OK\nCache-Control: no-cache, no-store, must-revalidate\n"
                      "Content-Type: text/plain; charset=utf-8\nServer: Docker/26.1.4 (linux)\n";
    if (!version.isEmpty())
        head += "Api-Version: " + version + "\n";
    return StandInEngine::answer(StandInEngine::response(head, "OK"));
}

Request get(const QByteArray& target)
{
    return {"GET", target};
}

class EngineApiTest : public ::testing::Test {
protected:
    QString socketPath(const QString& name = QStringLiteral("docker.sock")) const
    {
        return m_dir.filePath(name);
    }
    EngineListing list(std::chrono::milliseconds limit = 2s) const
    {
        return listContainers({Engine::docker, socketPath()}, limit);
    }
    std::optional<Kind> problemKind(const EngineListing& listing) const
    {
        return listing.problem ? std::optional<Kind>(listing.problem->kind) : std::nullopt;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(EngineApiTest, ListsARecordedDockerEngineOverItsSocket)
{
    for (const bool chunked : {false, true}) {
        StandInEngine engine(socketPath(), recordedDocker(chunked));
        ASSERT_TRUE(engine.isListening());
        const EngineListing listing = list();
        EXPECT_EQ(listing.problem, std::nullopt) << listing.problem->reason().toStdString();
        ASSERT_EQ(listing.containers.size(), 8);
        EXPECT_EQ(listing.containers[0].name(), "shop/api");
        EXPECT_EQ(listing.socket, (EngineSocket{Engine::docker, socketPath()}));
        EXPECT_EQ(engine.requests(),
                  (QList<Request>{get("/_ping"), get("/v1.45/containers/json")}));
        QFile::remove(socketPath());
    }
}

TEST_F(EngineApiTest, NegotiatesTheApiVersion)
{
    struct Case {
        const char* what;
        QByteArray pingVersion;
        Reply version;
        QList<Request> expected;
    };
    const Reply noVersion = StandInEngine::json(200, "{}");
    const std::vector<Case> cases{
        {"an engine newer than this program",
         "1.50",
         noVersion,
         {get("/_ping"), get("/v1.47/containers/json")}},
        {"an older engine", "1.41", noVersion, {get("/_ping"), get("/v1.41/containers/json")}},
        {"versions compare by number",
         "1.9",
         noVersion,
         {get("/_ping"), get("/v1.9/containers/json")}},
        {"no header: /version tells",
         "",
         StandInEngine::answer(StandInEngine::recorded("docker/version.http")),
         {get("/_ping"), get("/version"), get("/v1.45/containers/json")}},
        {"no version anywhere: the engine's own default",
         "",
         noVersion,
         {get("/_ping"), get("/version"), get("/containers/json")}},
        {"a header that is no version",
         "latest",
         noVersion,
         {get("/_ping"), get("/containers/json")}},
    };
    for (const Case& c : cases) {
        StandInEngine engine(socketPath(), [&](const Request& request) {
            if (request.target == "/_ping")
                return pingWithVersion(c.pingVersion);
            if (request.target == "/version")
                return c.version;
            return StandInEngine::answer(StandInEngine::recorded("podman/containers.http"));
        });
        const EngineListing listing = list();
        EXPECT_EQ(listing.problem, std::nullopt) << c.what;
        EXPECT_EQ(listing.containers.size(), 2) << c.what;
        EXPECT_EQ(engine.requests(), c.expected) << c.what;
        QFile::remove(socketPath());
    }

    // Podman answers the same calls.
    StandInEngine podman(socketPath(), [](const Request& request) {
        return StandInEngine::answer(StandInEngine::recorded(
            request.target == "/_ping" ? "podman/_ping.http" : "podman/containers.http"));
    });
    EXPECT_EQ(list().containers.size(), 2);
    EXPECT_EQ(podman.requests().last(), get("/v1.41/containers/json"));
}

TEST_F(EngineApiTest, RefusalsComeBackAsReasons)
{
    // An HTTP error at either step, with the engine's own words.
    for (const QByteArray step : {"/_ping", "/v1.45/containers/json"}) {
        StandInEngine engine(socketPath(), [&](const Request& request) {
            if (request.target == step)
                return StandInEngine::json(
                    403, R"({"message":"authorization denied by plugin opa-docker-authz: no"})");
            return pingWithVersion("1.45");
        });
        const EngineListing listing = list();
        ASSERT_TRUE(listing.problem) << step.constData();
        EXPECT_EQ(listing.problem->reason(),
                  socketPath() +
                      " 返回 HTTP 403：authorization denied by plugin opa-docker-authz: no");
        EXPECT_TRUE(listing.containers.isEmpty());
        QFile::remove(socketPath());
    }
    {
        StandInEngine engine(socketPath(), [](const Request& request) {
            if (request.target == "/_ping")
                return pingWithVersion("1.45");
            return StandInEngine::answer(StandInEngine::response(
                "HTTP/1.1 500 Internal Server Error\nContent-Type: text/plain", ""));
        });
        EXPECT_EQ(list().problem->reason(), socketPath() + " 返回 HTTP 500");
    }
    QFile::remove(socketPath());

    // A socket file nobody listens on any more, and no socket at all.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(socketPath());
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    EXPECT_EQ(problemKind(list()), Kind::unreachable);
    EXPECT_EQ(list().problem->reason(), "无法连接 " + socketPath());
    QFile::remove(socketPath());
    EXPECT_EQ(problemKind(list()), Kind::unreachable);
}

TEST_F(EngineApiTest, AUserOutsideTheDockerGroupIsToldSo)
{
    // The engine's socket as Docker leaves it: root's, for its group only. The probe lists it as
    // "nobody" (when this test runs as root) or as this user after the mode is taken away.
    ASSERT_TRUE(QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther));
    StandInEngine engine(socketPath(), recordedDocker());
    ASSERT_TRUE(engine.isListening());
    const QByteArray path = QFile::encodeName(socketPath());
    ASSERT_EQ(::chmod(path.constData(), ::geteuid() == 0 ? 0660 : 0), 0);

    const auto run = ProcessRunner::run(QStringLiteral(ENGINE_PROBE), {socketPath()});
    EXPECT_EQ(run.status, 0) << run.stdErr.toStdString();
    EXPECT_EQ(run.stdOut.trimmed(), "没有权限连接 " + socketPath());
    EXPECT_TRUE(engine.requests().isEmpty());

    // The same engine answers whoever may connect.
    ASSERT_EQ(::chmod(path.constData(), 0660), 0);
    EXPECT_EQ(list().containers.size(), 8);
}

TEST_F(EngineApiTest, MalformedAndBrokenAnswers)
{
    const QByteArray listing = StandInEngine::recordedBody("docker/containers.http");
    const QByteArray okHead = "HTTP/1.1 200 OK\nContent-Type: application/json";
    struct Case {
        const char* what;
        Reply ping;
        Reply list;
        Kind kind;
    };
    const std::vector<Case> cases{
        {"a listing cut short", pingWithVersion("1.45"),
         StandInEngine::answer(StandInEngine::response(okHead, listing.left(listing.size() / 2))),
         Kind::malformed},
        {"an object where a list belongs", pingWithVersion("1.45"),
         StandInEngine::json(200, R"({"Id":"abc"})"), Kind::malformed},
        {"HTML from something else on the socket", pingWithVersion("1.45"),
         StandInEngine::answer(StandInEngine::response("HTTP/1.1 200 OK\nContent-Type: text/html",
                                                       "<html><body>It works!</body></html>")),
         Kind::malformed},
        {"/version that is no JSON", pingWithVersion(""),
         StandInEngine::answer(StandInEngine::response(okHead, "Docker 26")), Kind::malformed},
        {"not HTTP at all", StandInEngine::answer("SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n"), Reply{},
         Kind::brokenAnswer},
        {"the connection closed unanswered",
         {Reply::Action::close, {}},
         Reply{},
         Kind::brokenAnswer},
        {"fewer bytes than announced", pingWithVersion("1.45"),
         Reply{Reply::Action::close,
               "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + listing.left(100)},
         Kind::brokenAnswer},
        {"more than any engine would send", pingWithVersion("1.45"),
         StandInEngine::answer(StandInEngine::response(
             okHead, "[" + QByteArray(EngineConnection::maxBodySize, ' ') + "]")),
         Kind::tooLarge},
    };
    for (const Case& c : cases) {
        StandInEngine engine(socketPath(), [&](const Request& request) {
            // /version, when it is asked, is the step that fails.
            return request.target == "/_ping" ? c.ping : c.list;
        });
        const EngineListing result = list();
        EXPECT_EQ(problemKind(result), c.kind) << c.what;
        EXPECT_TRUE(result.containers.isEmpty()) << c.what;
        QFile::remove(socketPath());
    }
    EngineProblem problem;
    problem.socketPath = "/run/docker.sock";
    problem.kind = Kind::malformed;
    EXPECT_EQ(problem.reason(), "/run/docker.sock 返回的数据无法解析");
    problem.kind = Kind::brokenAnswer;
    EXPECT_EQ(problem.reason(), "/run/docker.sock 的应答不完整或不是 HTTP");
    problem.kind = Kind::tooLarge;
    EXPECT_EQ(problem.reason(), "/run/docker.sock 返回的数据过多");
}

TEST_F(EngineApiTest, AnEngineThatHangsIsLeftWithinTheLimit)
{
    // The listing's own limit, with an engine that accepts and never answers.
    {
        StandInEngine engine(socketPath(), [](const Request&) { return hang(); });
        QElapsedTimer clock;
        clock.start();
        const EngineListing listing = list();
        const qint64 elapsed = clock.elapsed();
        ASSERT_TRUE(listing.problem);
        EXPECT_EQ(listing.problem->kind, Kind::timedOut);
        EXPECT_EQ(listing.problem->reason(), socketPath() + " 在 2 秒内没有应答");
        EXPECT_GE(elapsed, 1900);
        EXPECT_LT(elapsed, 10000) << "the limit did not hold";
    }
    QFile::remove(socketPath());

    // One limit for all the steps together: a prompt ping, then a listing that stalls before or
    // halfway through its body.
    const QByteArray half = StandInEngine::recorded("docker/containers.http").left(600);
    for (const Reply& stall : {hang(), hang(half)}) {
        StandInEngine engine(socketPath(), [&](const Request& request) {
            return request.target == "/_ping" ? pingWithVersion("1.45") : stall;
        });
        const EngineListing listing = list(300ms);
        EXPECT_EQ(problemKind(listing), Kind::timedOut);
        EXPECT_EQ(listing.problem->reason(), socketPath() + " 在 0.3 秒内没有应答");
        EXPECT_EQ(engine.requests().size(), 2);
        QFile::remove(socketPath());
    }
}

TEST_F(EngineApiTest, StopsContainers)
{
    struct Case {
        const char* what;
        Reply reply;
        StopResult expected;
    };
    const std::vector<Case> cases{
        {"stopped", StandInEngine::json(204, ""), {true, ""}},
        {"was not running", StandInEngine::json(304, ""), {true, ""}},
        {"gone",
         StandInEngine::json(404, R"({"message":"No such container: )" + someId.toLatin1() + "\"}"),
         {false, "No such container: " + someId}},
        {"failed in plain words",
         StandInEngine::answer(
             StandInEngine::response("HTTP/1.1 500 Internal Server Error\nContent-Type: text/plain",
                                     "cannot stop container: permission denied\n")),
         {false, "cannot stop container: permission denied"}},
        {"failed without a word",
         StandInEngine::answer(StandInEngine::response("HTTP/1.1 500 Internal Server Error", "")),
         {false, "HTTP 500"}},
    };
    for (const Case& c : cases) {
        StandInEngine engine(socketPath(), [&](const Request& request) {
            return request.target == "/_ping" ? pingWithVersion("1.45") : c.reply;
        });
        EXPECT_EQ(stopContainer(socketPath(), someId), c.expected) << c.what;
        EXPECT_EQ(engine.requests().value(1),
                  (Request{"POST", "/v1.45/containers/" + someId.toLatin1() + "/stop?t=10"}))
            << c.what;
        QFile::remove(socketPath());
    }

    // An id is one path segment, whatever it holds.
    {
        StandInEngine engine(socketPath(), [](const Request& request) {
            return request.target == "/_ping" ? pingWithVersion("1.45")
                                              : StandInEngine::json(204, "");
        });
        EXPECT_TRUE(stopContainer(socketPath(), "../../_ping?x#y").success);
        EXPECT_EQ(engine.requests().value(1).target,
                  "/v1.45/containers/..%2F..%2F_ping%3Fx%23y/stop?t=10");
    }
    QFile::remove(socketPath());

    // Failures to reach the engine read as the listing's reasons do.
    EXPECT_EQ(stopContainer(socketPath(), someId), (StopResult{false, "无法连接 " + socketPath()}));
    StandInEngine stuck(socketPath(), [](const Request& request) {
        return request.target == "/_ping" ? pingWithVersion("1.45") : hang();
    });
    EXPECT_EQ(stopContainer(socketPath(), someId, 300ms),
              (StopResult{false, socketPath() + " 在 0.3 秒内没有应答"}));
}

TEST_F(EngineApiTest, ListsEveryEngineOfTheEnvironmentSideBySide)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkpath("podman"));
    const QString podmanPath = socketPath("podman/podman.sock");
    StandInEngine docker(socketPath(), [](const Request&) { return hang(); });
    StandInEngine podman(podmanPath, [](const Request& request) {
        return StandInEngine::answer(StandInEngine::recorded(
            request.target == "/_ping" ? "podman/_ping.http" : "podman/containers.http"));
    });
    QProcessEnvironment environment;
    environment.insert("DOCKER_HOST", "unix://" + socketPath());
    environment.insert("XDG_RUNTIME_DIR", m_dir.path());

    const auto ours = [&](const QList<EngineListing>& listings) {
        QList<EngineListing> found;
        for (const EngineListing& listing : listings) {
            if (listing.socket.path.startsWith(m_dir.path()))
                found.append(listing);
        }
        return found;
    };
    std::future<QList<EngineListing>> running = startListing(environment, 500ms);
    const QList<EngineListing> listings = ours(running.get());
    ASSERT_EQ(listings.size(), 2);
    EXPECT_EQ(listings[0].socket, (EngineSocket{Engine::docker, socketPath()}));
    EXPECT_EQ(problemKind(listings[0]), Kind::timedOut);
    EXPECT_EQ(listings[1].socket, (EngineSocket{Engine::podman, podmanPath}));
    EXPECT_EQ(listings[1].problem, std::nullopt);
    EXPECT_EQ(listings[1].containers.size(), 2);

    // What the scan then makes of them: Podman's names, Docker's fallback and its reason.
    const Descriptions descriptions = describe(
        {{{"TCP", 15432, "*"}, {"rootlessport", {"rootlessport"}, ""}},
         {{"TCP", 8080, "*"},
          {"docker-proxy",
           QString("docker-proxy -proto tcp -host-ip 0.0.0.0 -host-port 8080 -container-ip "
                   "172.18.0.3 -container-port 80")
               .split(' '),
           ""}}},
        listings);
    EXPECT_EQ(descriptions.containers[0]->displayName(), "容器 pg");
    EXPECT_EQ(descriptions.containers[0]->engineSocket, podmanPath);
    EXPECT_EQ(descriptions.containers[1]->displayName(), "容器 172.18.0.3:80");
    EXPECT_EQ(descriptions.engineProblem, socketPath() + " 在 0.5 秒内没有应答");
}

TEST_F(EngineApiTest, ScansOnSeveralThreadsAtOnce)
{
    StandInEngine engine(socketPath(), recordedDocker());
    QProcessEnvironment environment;
    environment.insert("DOCKER_HOST", "unix://" + socketPath());
    std::vector<std::future<QList<EngineListing>>> scans;
    for (int i = 0; i < 4; ++i)
        scans.push_back(startListing(environment));
    for (auto& scan : scans) {
        const QList<EngineListing> listings = scan.get();
        ASSERT_FALSE(listings.isEmpty());
        EXPECT_EQ(listings.first().problem, std::nullopt);
        EXPECT_EQ(listings.first().containers.size(), 8);
    }
    EXPECT_EQ(engine.requests().size(), 8);
}

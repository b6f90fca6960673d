#include "StandInEngine.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Waits for the descriptor; false when the wake pipe says stop.
bool waitFor(int fd, short events, int wake)
{
    pollfd fds[] = {{fd, events, 0}, {wake, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    return fds[1].revents == 0;
}

std::pair<QByteArray, QByteArray> readRecording(const QString& name)
{
    QFile file(QStringLiteral(CONTAINERS_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray contents = file.readAll();
    const qsizetype split = contents.indexOf("\n\n");
    return {contents.left(split), contents.mid(split + 2)};
}

} // namespace

StandInEngine::StandInEngine(const QString& socketPath, Responder responder)
    : m_responder(std::move(responder))
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.size()) >= sizeof address.sun_path ||
        ::pipe2(m_wake, O_CLOEXEC) != 0)
        return;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0) {
        ::close(listener);
        return;
    }
    m_listener = listener;
    m_thread = std::thread([this] { serve(); });
}

StandInEngine::~StandInEngine()
{
    if (m_thread.joinable()) {
        [[maybe_unused]] const auto written = ::write(m_wake[1], "x", 1);
        m_thread.join();
    }
    for (int fd : {m_listener, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

QList<StandInEngine::Request> StandInEngine::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void StandInEngine::serve()
{
    while (waitFor(m_listener, POLLIN, m_wake[0])) {
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        const bool goOn = connection < 0 || serveConnection(connection);
        ::close(connection);
        if (!goOn)
            return;
    }
}

bool StandInEngine::serveConnection(int connection)
{
    QByteArray buffer;
    bool hanging = false;
    while (waitFor(connection, POLLIN, m_wake[0])) {
        char chunk[4096];
        const ssize_t count = ::read(connection, chunk, sizeof chunk);
        if (count <= 0)
            return true;
        if (hanging)
            continue;
        buffer.append(chunk, count);
        // The requests carry no body.
        for (qsizetype end; !hanging && (end = buffer.indexOf("\r\n\r\n")) >= 0;) {
            const QList<QByteArray> words = buffer.left(buffer.indexOf("\r\n")).split(' ');
            buffer.remove(0, end + 4);
            const Request request{words.value(0), words.value(1)};
            {
                std::lock_guard lock(m_mutex);
                m_requests.append(request);
            }
            const Reply reply = m_responder(request);
            for (qsizetype sent = 0; sent < reply.bytes.size();) {
                if (!waitFor(connection, POLLOUT, m_wake[0]))
                    return false;
                const ssize_t n =
                    ::send(connection, reply.bytes.constData() + sent,
                           static_cast<size_t>(reply.bytes.size() - sent), MSG_NOSIGNAL);
                if (n < 0)
                    return true; // the client gave up
                sent += n;
            }
            if (reply.action == Reply::Action::close)
                return true;
            hanging = reply.action == Reply::Action::hang;
        }
    }
    return false;
}

StandInEngine::Reply StandInEngine::answer(const QByteArray& head, const QByteArray& body)
{
    return {Reply::Action::answer, QByteArray(head.trimmed()).replace('\n', "\r\n") +
                                       "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                       "\r\n\r\n" + body};
}

StandInEngine::Reply StandInEngine::json(int status, const QByteArray& body)
{
    const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) +
                            " Status\nApi-Version: 1.45\nServer: Docker/26.1.4 (linux)";
    // These two carry no body, and the engine sends no length with them.
    if (status == 204 || status == 304)
        return {Reply::Action::answer, QByteArray(head).replace('\n', "\r\n") + "\r\n\r\n"};
    return answer(head + "\nContent-Type: application/json", body);
}

StandInEngine::Reply StandInEngine::recorded(const QString& name)
{
    const auto [head, body] = readRecording(name);
    return answer(head, body);
}

QByteArray StandInEngine::recordedBody(const QString& name)
{
    return readRecording(name).second;
}

StandInEngine::Reply StandInEngine::ping(const QByteArray& version)
{
    return answer("HTTP/1.1 200 OK\nServer: Docker/26.1.4 (linux)" +
                      (version.isEmpty() ? "" : "\nApi-Version: " + version),
                  "OK");
}

StandInEngine::Responder StandInEngine::afterPing(const Reply& first, const Reply& rest)
{
    return [=](const Request& request) { return request.target == "/_ping" ? first : rest; };
}

StandInEngine::Responder StandInEngine::recordedEngine(const QString& engine)
{
    return afterPing(recorded(engine + "/_ping.http"), recorded(engine + "/containers.http"));
}

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

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    default:
        return "Internal Server Error";
    }
}

// Waits for the descriptor or for the wake pipe; false when woken.
bool waitFor(int fd, short events, int wake)
{
    pollfd fds[] = {{fd, events, 0}, {wake, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    return fds[1].revents == 0;
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
    if (listener < 0)
        return;
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
        const char stop = 'x';
        [[maybe_unused]] const auto written = ::write(m_wake[1], &stop, 1);
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
    for (;;) {
        if (!waitFor(m_listener, POLLIN, m_wake[0]))
            return;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        const bool goOn = serveConnection(connection);
        ::close(connection);
        if (!goOn)
            return;
    }
}

bool StandInEngine::serveConnection(int connection)
{
    QByteArray buffer;
    bool hanging = false;
    for (;;) {
        if (!waitFor(connection, POLLIN, m_wake[0]))
            return false;
        char chunk[4096];
        const ssize_t count = ::read(connection, chunk, sizeof chunk);
        if (count <= 0)
            return true;
        if (hanging)
            continue;
        buffer.append(chunk, count);

        for (;;) {
            const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                break;
            const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
            qsizetype bodyLength = 0;
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("content-length:"))
                    bodyLength = line.mid(15).trimmed().toLongLong();
            }
            if (buffer.size() < headEnd + 4 + bodyLength)
                break;
            const QList<QByteArray> words = lines.first().trimmed().split(' ');
            const Request request{words.value(0), words.value(1)};
            buffer.remove(0, headEnd + 4 + bodyLength);
            {
                std::lock_guard lock(m_mutex);
                m_requests.append(request);
            }
            const Reply reply = m_responder(request);
            if (reply.action == Reply::Action::close)
                return true;
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
            if (reply.action == Reply::Action::hang) {
                hanging = true;
                break;
            }
        }
    }
}

QByteArray StandInEngine::response(const QByteArray& head, const QByteArray& body, bool chunked)
{
    QByteArray bytes = head.trimmed().replace('\n', "\r\n") + "\r\n";
    if (!chunked) {
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        return bytes;
    }
    bytes += "Transfer-Encoding: chunked\r\n\r\n";
    for (qsizetype at = 0; at < body.size(); at += 7) {
        const QByteArray piece = body.mid(at, 7);
        bytes += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    }
    return bytes + "0\r\n\r\n";
}

StandInEngine::Reply StandInEngine::json(int status, const QByteArray& body)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                      "\nApi-Version: 1.45\nDocker-Experimental: false\nOstype: linux\n"
                      "Server: Docker/26.1.4 (linux)\n";
    // These two statuses carry no body, and the engine sends no length for them.
    if (status == 204 || status == 304)
        return answer(head.replace('\n', "\r\n") + "\r\n");
    return answer(response(head + "Content-Type: application/json", body));
}

namespace {

// The head lines (without their length) and the body of a recorded exchange.
std::pair<QByteArray, QByteArray> readRecording(const QString& name)
{
    QFile file(QStringLiteral(CONTAINERS_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray contents = file.readAll();
    const qsizetype split = contents.indexOf("\n\n");
    QByteArray head;
    for (const QByteArray& line : contents.left(split).split('\n')) {
        if (!line.toLower().startsWith("content-length:"))
            head += line + '\n';
    }
    return {head, split < 0 ? QByteArray() : contents.mid(split + 2)};
}

} // namespace

QByteArray StandInEngine::recorded(const QString& name, bool chunked)
{
    const auto [head, body] = readRecording(name);
    return response(head, body, chunked);
}

QByteArray StandInEngine::recordedBody(const QString& name)
{
    return readRecording(name).second;
}

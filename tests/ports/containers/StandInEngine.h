#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A container engine for tests: a real listening unix socket served by a thread that reads HTTP
// requests and answers each with what the test's responder returns. One connection at a time, kept
// open between requests as an engine does.
class StandInEngine {
public:
    struct Request {
        QByteArray method;
        QByteArray target;

        bool operator==(const Request&) const = default;
    };
    struct Reply {
        // hang: send the bytes (none, or half an answer), then never finish; close: hang up.
        enum class Action { answer, hang, close };
        Action action = Action::answer;
        QByteArray bytes;
    };
    using Responder = std::function<Reply(const Request&)>;

    StandInEngine(const QString& socketPath, Responder responder)
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
    ~StandInEngine()
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

    bool isListening() const { return m_listener >= 0; }

    QList<Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    // A response with these head lines (status line first, no length) and this body.
    static Reply answer(const QByteArray& head, const QByteArray& body)
    {
        return {Reply::Action::answer,
                QByteArray(head.trimmed()).replace('\n', "\r\n") +
                    "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body};
    }
    // A JSON answer with the headers Docker 26 sends.
    static Reply json(int status, const QByteArray& body)
    {
        const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) +
                                " Status\nApi-Version: 1.45\nServer: Docker/26.1.4 (linux)";
        // These two carry no body, and the engine sends no length with them.
        if (status == 204 || status == 304)
            return {Reply::Action::answer, QByteArray(head).replace('\n', "\r\n") + "\r\n\r\n"};
        return answer(head + "\nContent-Type: application/json", body);
    }
    // A recorded exchange from the test data: status line, headers, an empty line, the body.
    static Reply recorded(const QString& name)
    {
        const auto [head, body] = recording(name);
        return answer(head, body);
    }
    static QByteArray recordedBody(const QString& name) { return recording(name).second; }
    // /_ping's answer, naming this API version (none when empty).
    static Reply ping(const QByteArray& version = "1.45")
    {
        return answer("HTTP/1.1 200 OK\nServer: Docker/26.1.4 (linux)" +
                          (version.isEmpty() ? "" : "\nApi-Version: " + version),
                      "OK");
    }
    static Reply hang() { return {Reply::Action::hang, {}}; }

    // An engine that answers /_ping with `first` and every other request with `rest`.
    static Responder afterPing(const Reply& first, const Reply& rest)
    {
        return [=](const Request& request) { return request.target == "/_ping" ? first : rest; };
    }
    // The recorded engine of the test data ("docker" or "podman"): its ping, then its listing.
    static Responder recordedEngine(const QString& engine)
    {
        return afterPing(recorded(engine + "/_ping.http"), recorded(engine + "/containers.http"));
    }

private:
    static std::pair<QByteArray, QByteArray> recording(const QString& name)
    {
        QFile file(QStringLiteral(CONTAINERS_TEST_DATA "/") + name);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray contents = file.readAll();
        const qsizetype split = contents.indexOf("\n\n");
        return {contents.left(split), contents.mid(split + 2)};
    }

    // Waits for the descriptor; false when the wake pipe says stop.
    bool waitFor(int fd, short events) const
    {
        pollfd fds[] = {{fd, events, 0}, {m_wake[0], POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0) {
            if (errno != EINTR)
                return false;
        }
        return fds[1].revents == 0;
    }

    void serve()
    {
        while (waitFor(m_listener, POLLIN)) {
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            const bool goOn = connection < 0 || serveConnection(connection);
            ::close(connection);
            if (!goOn)
                return;
        }
    }

    // False when the stand-in is told to stop.
    bool serveConnection(int connection)
    {
        QByteArray buffer;
        bool hanging = false;
        while (waitFor(connection, POLLIN)) {
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
                    if (!waitFor(connection, POLLOUT))
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

    Responder m_responder;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    mutable std::mutex m_mutex;
    QList<Request> m_requests;
    std::thread m_thread;
};

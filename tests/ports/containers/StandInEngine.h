#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <mutex>
#include <thread>

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

    StandInEngine(const QString& socketPath, Responder responder);
    ~StandInEngine();

    bool isListening() const { return m_listener >= 0; }
    QList<Request> requests() const;

    // A response with these head lines (status line first, no length) and this body.
    static Reply answer(const QByteArray& head, const QByteArray& body);
    // A JSON answer with the headers Docker 26 sends.
    static Reply json(int status, const QByteArray& body);
    // A recorded exchange from the test data: status line, headers, an empty line, the body.
    static Reply recorded(const QString& name);
    static QByteArray recordedBody(const QString& name);
    // /_ping's answer, naming this API version (none when empty).
    static Reply ping(const QByteArray& version = "1.45");
    static Reply hang() { return {Reply::Action::hang, {}}; }

    // An engine that answers /_ping with `first` and every other request with `rest`.
    static Responder afterPing(const Reply& first, const Reply& rest);
    // The recorded engine of the test data ("docker" or "podman"): its ping, then its listing.
    static Responder recordedEngine(const QString& engine);

private:
    void serve();
    // False when the stand-in is told to stop.
    bool serveConnection(int connection);

    Responder m_responder;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    mutable std::mutex m_mutex;
    QList<Request> m_requests;
    std::thread m_thread;
};

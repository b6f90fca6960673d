#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <mutex>
#include <thread>

// A container engine for tests: a real listening unix socket served by a thread that reads HTTP
// requests and answers each with what the test's responder returns. It serves one connection
// at a time and keeps it open between requests, as an engine does.
class StandInEngine {
public:
    struct Request {
        QByteArray method;
        QByteArray target;

        bool operator==(const Request&) const = default;
    };

    struct Reply {
        enum class Action {
            answer,
            // Send the bytes (perhaps none, perhaps half an answer), then read on and never
            // finish: the client has to give up.
            hang,
            // Close the connection without a word.
            close,
        };
        Action action = Action::answer;
        QByteArray bytes;
    };
    using Responder = std::function<Reply(const Request&)>;

    StandInEngine(const QString& socketPath, Responder responder);
    ~StandInEngine();
    StandInEngine(const StandInEngine&) = delete;
    StandInEngine& operator=(const StandInEngine&) = delete;

    bool isListening() const { return m_listener >= 0; }
    QList<Request> requests() const;

    // A response with these head lines (status line first, no Content-Length) and this body,
    // sent with its length or in chunks of at most 7 bytes.
    static QByteArray response(const QByteArray& head, const QByteArray& body,
                               bool chunked = false);
    static Reply answer(const QByteArray& bytes) { return {Reply::Action::answer, bytes}; }
    static Reply json(int status, const QByteArray& body);

    // A recorded exchange from the test data folder: the status line and headers, an empty line,
    // then the body, with plain newlines; the length is worked out when it is sent.
    static QByteArray recorded(const QString& name, bool chunked = false);
    // Only the body of a recorded exchange.
    static QByteArray recordedBody(const QString& name);

private:
    void serve();
    // Returns false when the stand-in is told to stop.
    bool serveConnection(int connection);

    Responder m_responder;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    mutable std::mutex m_mutex;
    QList<Request> m_requests;
    std::thread m_thread;
};

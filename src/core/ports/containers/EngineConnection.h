#pragma once

#include "EngineProblem.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <chrono>
#include <optional>

namespace Containers {

// One HTTP exchange with an engine: either a problem, or the status, body and API version.
struct HttpAnswer {
    std::optional<EngineProblem> problem;
    long status = 0;
    QByteArray body;
    // The Api-Version header, when the engine sent one.
    QByteArray apiVersion;
};

// HTTP with a container engine over its unix socket, through libcurl. Every request made on one
// connection shares one time limit, counted from its construction; the connection is kept open
// between requests. Use it from one thread at a time; any number may exist side by side.
class EngineConnection {
public:
    EngineConnection(QString socketPath, std::chrono::milliseconds limit);
    ~EngineConnection();
    EngineConnection(const EngineConnection&) = delete;
    EngineConnection& operator=(const EngineConnection&) = delete;

    // `target` is the request target, e.g. "/v1.45/containers/json".
    HttpAnswer get(const QByteArray& target);
    // A POST without a body.
    HttpAnswer post(const QByteArray& target);

    const QString& socketPath() const { return m_socketPath; }
    EngineProblem problem(EngineProblem::Kind kind) const;

    // No real answer of an engine comes near this.
    static constexpr qsizetype maxBodySize = 16 * 1024 * 1024;

private:
    HttpAnswer perform(const QByteArray& target, bool post);

    QString m_socketPath;
    std::chrono::milliseconds m_limit;
    QDeadlineTimer m_deadline;
    void* m_curl = nullptr;
};

} // namespace Containers

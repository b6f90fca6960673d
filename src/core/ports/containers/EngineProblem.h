#pragma once

#include <QString>

#include <chrono>

namespace Containers {

// Why a container engine could not be asked, or did not answer usefully.
struct EngineProblem {
    enum class Kind {
        // The socket exists but this user may not connect (not in the docker group).
        permissionDenied,
        // Nothing listens there, or the socket is gone.
        unreachable,
        // No complete answer within the time limit.
        timedOut,
        // The engine answered with an HTTP error.
        httpError,
        // The answer is not HTTP, or it broke off.
        brokenAnswer,
        // The HTTP body is not the JSON it should be.
        malformed,
        // The body is larger than any real answer.
        tooLarge,
        // libcurl failed in another way.
        failed,
    };

    Kind kind = Kind::failed;
    QString socketPath;
    // httpError: the status and the engine's own message, when it gave one.
    long httpStatus = 0;
    QString engineMessage;
    // timedOut: the limit that ran out.
    std::chrono::milliseconds limit{0};
    // failed: libcurl's error code.
    int curlCode = 0;

    // One sentence that follows "无法访问容器引擎：", e.g. "没有权限连接 /var/run/docker.sock".
    QString reason() const;

    bool operator==(const EngineProblem&) const = default;
};

} // namespace Containers

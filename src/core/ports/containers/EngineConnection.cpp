#include "EngineConnection.h"

#include <QFile>

#include <curl/curl.h>

#include <cerrno>
#include <mutex>

namespace Containers {
namespace {

void initialiseCurlOnce()
{
    // curl_global_init is not safe to race with itself or with the first easy handles.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_NOTHING); });
}

struct Body {
    QByteArray bytes;
    bool tooLarge = false;
};

size_t collectBody(char* data, size_t size, size_t count, void* target)
{
    auto* body = static_cast<Body*>(target);
    const size_t length = size * count;
    if (static_cast<size_t>(body->bytes.size()) + length >
        static_cast<size_t>(EngineConnection::maxBodySize)) {
        body->tooLarge = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    body->bytes.append(data, static_cast<qsizetype>(length));
    return length;
}

EngineProblem::Kind kindOfFailure(CURLcode code, long osErrno, bool tooLarge)
{
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return EngineProblem::Kind::timedOut;
    case CURLE_COULDNT_CONNECT:
        return osErrno == EACCES || osErrno == EPERM ? EngineProblem::Kind::permissionDenied
                                                     : EngineProblem::Kind::unreachable;
    case CURLE_WRITE_ERROR:
        return tooLarge ? EngineProblem::Kind::tooLarge : EngineProblem::Kind::failed;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
        return EngineProblem::Kind::brokenAnswer;
    default:
        return EngineProblem::Kind::failed;
    }
}

} // namespace

EngineConnection::EngineConnection(QString socketPath, std::chrono::milliseconds limit)
    : m_socketPath(std::move(socketPath)), m_limit(limit), m_deadline(limit)
{
    initialiseCurlOnce();
    m_curl = curl_easy_init();
}

EngineConnection::~EngineConnection()
{
    curl_easy_cleanup(static_cast<CURL*>(m_curl));
}

EngineProblem EngineConnection::problem(EngineProblem::Kind kind) const
{
    EngineProblem problem;
    problem.kind = kind;
    problem.socketPath = m_socketPath;
    if (kind == EngineProblem::Kind::timedOut)
        problem.limit = m_limit;
    return problem;
}

HttpAnswer EngineConnection::get(const QByteArray& target)
{
    return perform(target, false);
}

HttpAnswer EngineConnection::post(const QByteArray& target)
{
    return perform(target, true);
}

HttpAnswer EngineConnection::perform(const QByteArray& target, bool post)
{
    HttpAnswer answer;
    auto* curl = static_cast<CURL*>(m_curl);
    if (!curl) {
        answer.problem = problem(EngineProblem::Kind::failed);
        answer.problem->curlCode = CURLE_FAILED_INIT;
        return answer;
    }
    const qint64 remaining = m_deadline.remainingTime();
    if (remaining == 0) {
        answer.problem = problem(EngineProblem::Kind::timedOut);
        return answer;
    }

    const QByteArray socket = QFile::encodeName(m_socketPath);
    const QByteArray url = "http://localhost" + target;
    Body body;
    curl_easy_setopt(curl, CURLOPT_UNIX_SOCKET_PATH, socket.constData());
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    // Timeouts must not use SIGALRM: this runs on worker threads.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(remaining));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Kestrow");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (post) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, 0L);
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }

    const CURLcode code = curl_easy_perform(curl);
    // The handle must not keep pointers into this frame.
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    if (code != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        answer.problem = problem(kindOfFailure(code, osErrno, body.tooLarge));
        answer.problem->curlCode = code;
        return answer;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    answer.body = std::move(body.bytes);
    curl_header* header = nullptr;
    if (curl_easy_header(curl, "Api-Version", 0, CURLH_HEADER, -1, &header) == CURLHE_OK)
        answer.apiVersion = QByteArray(header->value).trimmed();
    return answer;
}

} // namespace Containers

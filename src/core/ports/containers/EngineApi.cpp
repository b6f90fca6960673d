#include "EngineApi.h"

#include "Numbers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace Containers {
namespace {

struct Version {
    qint32 major = 0;
    qint32 minor = 0;

    auto operator<=>(const Version&) const = default;
};

std::optional<Version> parseVersion(QStringView text)
{
    const qsizetype dot = text.indexOf(u'.');
    if (dot < 0)
        return std::nullopt;
    const auto major = parseUInt32Strict(text.left(dot));
    const auto minor = parseUInt32Strict(text.mid(dot + 1));
    if (!major || !minor || *major > 999 || *minor > 999)
        return std::nullopt;
    return Version{static_cast<qint32>(*major), static_cast<qint32>(*minor)};
}

QString agreedVersion(QStringView engineVersion)
{
    const auto engine = parseVersion(engineVersion);
    if (!engine)
        return QString();
    const QString ours = QString::fromLatin1(clientApiVersion);
    return *engine < *parseVersion(ours) ? engineVersion.toString() : ours;
}

// What an engine says about a failure: the "message" of its JSON error body, else a short body
// as it is.
QString engineMessage(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QString message = document.object().value(QLatin1String("message")).toString();
    if (!message.isEmpty())
        return message;
    const QString text = QString::fromUtf8(body).trimmed();
    return text.size() <= 200 && !document.isObject() ? text : QString();
}

EngineProblem httpProblem(const EngineConnection& connection, const HttpAnswer& answer)
{
    EngineProblem problem = connection.problem(EngineProblem::Kind::httpError);
    problem.httpStatus = answer.status;
    problem.engineMessage = engineMessage(answer.body);
    return problem;
}

bool isSuccess(long status)
{
    return status >= 200 && status < 300;
}

QByteArray versioned(const QString& version, const QByteArray& path)
{
    return version.isEmpty() ? path : "/v" + version.toLatin1() + path;
}

} // namespace

Negotiation negotiateVersion(EngineConnection& connection)
{
    const HttpAnswer ping = connection.get("/_ping");
    if (ping.problem)
        return {QString(), ping.problem};
    if (!isSuccess(ping.status))
        return {QString(), httpProblem(connection, ping)};
    if (!ping.apiVersion.isEmpty())
        return {agreedVersion(QString::fromLatin1(ping.apiVersion)), std::nullopt};

    const HttpAnswer version = connection.get("/version");
    if (version.problem)
        return {QString(), version.problem};
    if (!isSuccess(version.status))
        return {QString(), httpProblem(connection, version)};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(version.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {QString(), connection.problem(EngineProblem::Kind::malformed)};
    return {agreedVersion(document.object().value(QLatin1String("ApiVersion")).toString()),
            std::nullopt};
}

EngineListing listContainers(const EngineSocket& socket, std::chrono::milliseconds limit)
{
    EngineListing listing{socket, {}, std::nullopt};
    EngineConnection connection(socket.path, limit);
    const Negotiation negotiation = negotiateVersion(connection);
    if (negotiation.problem) {
        listing.problem = negotiation.problem;
        return listing;
    }
    const HttpAnswer answer = connection.get(versioned(negotiation.version, "/containers/json"));
    if (answer.problem) {
        listing.problem = answer.problem;
    } else if (answer.status != 200) {
        listing.problem = httpProblem(connection, answer);
    } else if (auto containers = parseContainerList(answer.body)) {
        listing.containers = std::move(*containers);
    } else {
        listing.problem = connection.problem(EngineProblem::Kind::malformed);
    }
    return listing;
}

StopResult stopContainer(const QString& socketPath, const QString& containerId,
                         std::chrono::milliseconds limit)
{
    EngineConnection connection(socketPath, limit);
    const Negotiation negotiation = negotiateVersion(connection);
    if (negotiation.problem)
        return {false, negotiation.problem->reason()};
    // The id is the engine's, but it goes into a path: whatever it holds stays one segment.
    const QByteArray path = "/containers/" + QUrl::toPercentEncoding(containerId) + "/stop?t=10";
    const HttpAnswer answer = connection.post(versioned(negotiation.version, path));
    if (answer.problem)
        return {false, answer.problem->reason()};
    // 304: the container was not running.
    if (isSuccess(answer.status) || answer.status == 304)
        return {true, QString()};
    const QString message = engineMessage(answer.body);
    return {false, message.isEmpty() ? QStringLiteral("HTTP %1").arg(answer.status) : message};
}

} // namespace Containers

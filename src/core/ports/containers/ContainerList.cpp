#include "ContainerList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace Containers {
namespace {

std::optional<qint64> portNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= 1 && number <= 65535) || std::floor(number) != number)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<QString> nonEmptyText(const QJsonValue& value)
{
    const QString text = value.toString();
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

QList<PublishedPort> readPorts(const QJsonArray& entries)
{
    QList<PublishedPort> ports;
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        const auto privatePort = portNumber(entry.value(QLatin1String("PrivatePort")));
        if (!privatePort)
            continue;
        ports.append({entry.value(QLatin1String("IP")).toString(), *privatePort,
                      portNumber(entry.value(QLatin1String("PublicPort"))),
                      entry.value(QLatin1String("Type")).toString().toLower()});
    }
    return ports;
}

std::optional<EngineContainer> readContainer(const QJsonObject& object)
{
    EngineContainer container;
    container.id = object.value(QLatin1String("Id")).toString();
    if (container.id.isEmpty())
        return std::nullopt;
    for (const QJsonValue& name : object.value(QLatin1String("Names")).toArray()) {
        if (name.isString() && !name.toString().isEmpty())
            container.names.append(name.toString());
    }
    container.image = object.value(QLatin1String("Image")).toString();
    const QJsonObject labels = object.value(QLatin1String("Labels")).toObject();
    container.composeProject =
        nonEmptyText(labels.value(QLatin1String("com.docker.compose.project")));
    container.composeService =
        nonEmptyText(labels.value(QLatin1String("com.docker.compose.service")));
    container.ports = readPorts(object.value(QLatin1String("Ports")).toArray());
    return container;
}

} // namespace

QString EngineContainer::name() const
{
    if (composeProject && composeService)
        return *composeProject + QLatin1Char('/') + *composeService;
    // A linked container is also listed under "/<other>/<alias>"; its own name has no slash.
    for (const QString& full : names) {
        const QString own = full.startsWith(u'/') ? full.mid(1) : full;
        if (!own.isEmpty() && !own.contains(u'/'))
            return own;
    }
    return id.left(12);
}

std::optional<QList<EngineContainer>> parseContainerList(QByteArrayView json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<EngineContainer> containers;
    for (const QJsonValue& value : document.array()) {
        if (auto container = readContainer(value.toObject()))
            containers.append(std::move(*container));
    }
    return containers;
}

} // namespace Containers

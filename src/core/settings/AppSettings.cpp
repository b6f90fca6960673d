#include "AppSettings.h"

#include "SettingsFile.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

#include <algorithm>

namespace {

const QString settingsKey = QStringLiteral("Tavlin.commonPorts");

// A JSON number that is a whole number within the 64-bit range, whether the text was written as
// an integer (3000) or as an integral fraction or exponent (3000.0, 3e3).
std::optional<qint64> wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() hands back its fallback for anything that is not a representable whole number;
    // two different fallbacks tell a real value from the fallback.
    const qint64 first = value.toInteger(0);
    const qint64 second = value.toInteger(1);
    if (first != second)
        return std::nullopt;
    return first;
}

std::optional<QList<CommonPort>> decode(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;

    QList<CommonPort> entries;
    const QJsonArray array = document.array();
    entries.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return std::nullopt;
        const QJsonObject object = element.toObject();
        const std::optional<qint64> port = wholeNumber(object.value(QLatin1String("port")));
        const QJsonValue note = object.value(QLatin1String("note"));
        if (!port || !note.isString())
            return std::nullopt;
        entries.append(CommonPort{*port, note.toString()});
    }
    return entries;
}

QByteArray encode(const QList<CommonPort>& entries)
{
    QJsonArray array;
    for (const CommonPort& entry : entries) {
        QJsonObject object;
        object.insert(QLatin1String("port"), QJsonValue(entry.port));
        object.insert(QLatin1String("note"), entry.note);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace

size_t qHash(const CommonPort& entry, size_t seed)
{
    return qHashMulti(seed, entry.port, entry.note);
}

AppSettings::AppSettings()
{
    const QVariant stored = openSettingsFile().value(settingsKey);
    std::optional<QList<CommonPort>> entries;
    if (stored.typeId() == QMetaType::QByteArray)
        entries = decode(stored.toByteArray());
    m_commonPorts = entries ? *entries : defaultPorts();
}

AppSettings& AppSettings::shared()
{
    static AppSettings* const instance = new AppSettings;
    return *instance;
}

std::unique_ptr<AppSettings> AppSettings::createForTesting()
{
    return std::unique_ptr<AppSettings>(new AppSettings);
}

const QList<CommonPort>& AppSettings::defaultPorts()
{
    static const QList<CommonPort> ports{
        {3000, QStringLiteral("Node / Next.js / Rails")},
        {3001, QStringLiteral("备用前端 / API")},
        {4200, QStringLiteral("Angular")},
        {5000, QStringLiteral("Flask / .NET")},
        {5173, QStringLiteral("Vite")},
        {5174, QStringLiteral("Vite (备用)")},
        {8000, QStringLiteral("Django / Python http.server")},
        {8080, QStringLiteral("通用 HTTP / Tomcat")},
        {8888, QStringLiteral("Jupyter")},
        {9000, QStringLiteral("PHP-FPM / SonarQube")},
        {4000, QStringLiteral("Phoenix / Jekyll")},
        {1313, QStringLiteral("Hugo")},
        {19000, QStringLiteral("Expo")},
        {5432, QStringLiteral("PostgreSQL")},
        {3306, QStringLiteral("MySQL")},
        {6379, QStringLiteral("Redis")},
        {27017, QStringLiteral("MongoDB")},
    };
    return ports;
}

const QList<CommonPort>& AppSettings::commonPorts() const
{
    return m_commonPorts;
}

void AppSettings::setCommonPorts(const QList<CommonPort>& ports)
{
    m_commonPorts = ports;
    persist();
    emit commonPortsChanged();
}

QSet<qint64> AppSettings::portNumbers() const
{
    QSet<qint64> numbers;
    numbers.reserve(m_commonPorts.size());
    for (const CommonPort& entry : m_commonPorts)
        numbers.insert(entry.port);
    return numbers;
}

void AppSettings::add(qint64 port, const QString& note)
{
    const bool listed = std::any_of(m_commonPorts.cbegin(), m_commonPorts.cend(),
                                    [port](const CommonPort& entry) { return entry.port == port; });
    if (listed)
        return;

    QList<CommonPort> ports = m_commonPorts;
    ports.append(CommonPort{port, note});
    setCommonPorts(ports);

    std::stable_sort(ports.begin(), ports.end(),
                     [](const CommonPort& a, const CommonPort& b) { return a.port < b.port; });
    setCommonPorts(ports);
}

void AppSettings::remove(const CommonPort& entry)
{
    QList<CommonPort> ports;
    ports.reserve(m_commonPorts.size());
    for (const CommonPort& existing : m_commonPorts) {
        if (existing.port != entry.port)
            ports.append(existing);
    }
    setCommonPorts(ports);
}

void AppSettings::persist()
{
    // QSettings writes the file through a temporary file and a rename, so a program killed
    // mid-write leaves the previous list or the new one, never a torn file.
    QSettings settings = openSettingsFile();
    settings.setValue(settingsKey, encode(m_commonPorts));
    settings.sync();
}

#include "SystemdServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QHash>
#include <QMutex>

#include <algorithm>

namespace SystemdServices {
namespace {

const QString service = QStringLiteral("org.freedesktop.systemd1");
constexpr int lookUpTimeoutMs = 1000;
// The system manager may wait for the user to authorise the stop.
constexpr int stopTimeoutMs = 5 * 60 * 1000;

struct UserManagers {
    QMutex mutex;
    QHash<QString, QString> busByCgroup;
};

UserManagers& userManagers()
{
    static UserManagers managers;
    return managers;
}

// Unit names hold only these characters, so a cgroup folder named otherwise is no unit.
bool isUnitName(QStringView name)
{
    if (!name.endsWith(u".service") || name.size() <= 8)
        return false;
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
               u == u':' || u == u'-' || u == u'_' || u == u'.' || u == u'\\' || u == u'@';
    });
}

std::optional<quint32> userManagerUid(QStringView component)
{
    if (!component.startsWith(u"user@") || !component.endsWith(u".service"))
        return std::nullopt;
    const QStringView digits = component.sliced(5, component.size() - 5 - 8);
    bool ok = false;
    const quint32 uid = digits.toUInt(&ok);
    return ok && !digits.isEmpty() && digits.front().isDigit() ? std::optional(uid) : std::nullopt;
}

std::optional<QString> testManagerBus(QStringView cgroupPath)
{
    UserManagers& managers = userManagers();
    const QMutexLocker lock(&managers.mutex);
    for (auto it = managers.busByCgroup.cbegin(); it != managers.busByCgroup.cend(); ++it) {
        if (cgroupPath.startsWith(it.key()) && cgroupPath.size() > it.key().size() &&
            cgroupPath[it.key().size()] == u'/')
            return it.value();
    }
    return std::nullopt;
}

QDBusConnection connectionOf(const ServiceUnit& unit)
{
    if (unit.manager == ServiceUnit::Manager::system)
        return QDBusConnection::systemBus();
    const QString name = QStringLiteral("kestrow-manager:") + unit.busAddress;
    QDBusConnection connection = QDBusConnection::connectToBus(unit.busAddress, name);
    // A failed connection keeps its name; let go of it so that the next attempt tries again.
    if (!connection.isConnected())
        QDBusConnection::disconnectFromBus(name);
    return connection;
}

// The object path of a loaded unit: every byte but letters and digits as _XX.
QString unitObjectPath(const QString& name)
{
    QString path = QStringLiteral("/org/freedesktop/systemd1/unit/");
    for (const char c : name.toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            path += QLatin1Char(c);
        else
            path += QStringLiteral("_%1").arg(static_cast<uchar>(c), 2, 16, QLatin1Char('0'));
    }
    return path;
}

QString notConnected(const QDBusConnection& connection)
{
    const QString message = connection.lastError().message();
    return message.isEmpty() ? QStringLiteral("Not connected to D-Bus server") : message;
}

} // namespace

std::optional<ServiceUnit> unitOfCgroup(QStringView cgroupPath)
{
    const auto components = cgroupPath.split(u'/', Qt::SkipEmptyParts);
    if (components.isEmpty())
        return std::nullopt;
    QStringView name = components.last();
    // A unit whose name would clash with the cgroup file system's own names gets a "_" in front.
    if (name.startsWith(u'_'))
        name = name.sliced(1);
    if (!isUnitName(name))
        return std::nullopt;

    ServiceUnit unit;
    unit.name = name.toString();
    if (const auto bus = testManagerBus(cgroupPath)) {
        unit.manager = ServiceUnit::Manager::user;
        unit.busAddress = *bus;
        return unit;
    }
    for (qsizetype i = components.size() - 2; i >= 0; --i) {
        if (const auto uid = userManagerUid(components[i])) {
            unit.manager = ServiceUnit::Manager::user;
            unit.busAddress = QStringLiteral("unix:path=/run/user/%1/bus").arg(*uid);
            break;
        }
    }
    return unit;
}

void lookUpRestarts(QList<ServiceUnit*> units)
{
    QList<std::pair<ServiceUnit*, QDBusPendingCall>> calls;
    for (ServiceUnit* unit : units) {
        QDBusConnection connection = connectionOf(*unit);
        if (!connection.isConnected())
            continue;
        QDBusMessage get = QDBusMessage::createMethodCall(
            service, unitObjectPath(unit->name), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.systemd1.Service") << QStringLiteral("Restart");
        calls.append({unit, connection.asyncCall(get, lookUpTimeoutMs)});
    }
    for (auto& [unit, call] : calls) {
        call.waitForFinished();
        const QDBusPendingReply<QDBusVariant> reply = call;
        if (reply.isValid())
            unit->restarts = reply.value().variant().toString() != QLatin1String("no");
    }
}

void stop(const ServiceUnit& unit, QObject* context, std::function<void(const Result&)> done)
{
    QDBusConnection connection = connectionOf(unit);
    if (!connection.isConnected()) {
        done(Result{false, notConnected(connection)});
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/freedesktop/systemd1"),
        QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("StopUnit"));
    call << unit.name << QStringLiteral("replace");
    call.setInteractiveAuthorizationAllowed(unit.manager == ServiceUnit::Manager::system);
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call, stopTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError())
                             done(Result{false, finished->error().message()});
                         else
                             done(Result{true, QString()});
                     });
}

namespace testing {

void setUserManager(const QString& cgroupPath, const QString& busAddress)
{
    UserManagers& managers = userManagers();
    const QMutexLocker lock(&managers.mutex);
    if (busAddress.isEmpty())
        managers.busByCgroup.remove(cgroupPath);
    else
        managers.busByCgroup.insert(cgroupPath, busAddress);
}

} // namespace testing

} // namespace SystemdServices

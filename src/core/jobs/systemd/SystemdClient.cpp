#include "SystemdClient.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QSet>

#include <utility>

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString timerInterface = QStringLiteral("org.freedesktop.systemd1.Timer");
const QString serviceInterface = QStringLiteral("org.freedesktop.systemd1.Service");
const QString replaceMode = QStringLiteral("replace");

constexpr int readTimeoutMs = 10000;
// An action may wait for the user to authorise it.
constexpr int actionTimeoutMs = 120000;

QDBusMessage managerCall(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(SystemdClient::service, SystemdClient::managerPath,
                                       SystemdClient::managerInterface, method);
    message.setArguments(arguments);
    return message;
}

QDBusMessage propertiesCall(const QString& path, const QString& method,
                            const QVariantList& arguments)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(SystemdClient::service, path, propertiesInterface, method);
    message.setArguments(arguments);
    return message;
}

QDBusMessage awaited(QDBusPendingCall& call)
{
    call.waitForFinished();
    return call.reply();
}

bool isError(const QDBusMessage& reply)
{
    return reply.type() != QDBusMessage::ReplyMessage;
}

// Errors that mean there is no manager to ask, rather than one that failed.
bool meansAbsent(const QDBusMessage& reply)
{
    static const QSet<QString> names = {
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
    };
    return names.contains(reply.errorName());
}

SystemdClient::Reading failure(const QDBusMessage& reply)
{
    SystemdClient::Reading reading;
    reading.reach =
        meansAbsent(reply) ? SystemdClient::Reach::absent : SystemdClient::Reach::failed;
    reading.error = reply.errorMessage();
    return reading;
}

// The first argument of a reply, or the value inside a property's variant, as a D-Bus
// container of the expected signature.
std::optional<QDBusArgument> container(const QVariant& value, const char* signature)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return std::nullopt;
    QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String(signature))
        return std::nullopt;
    return argument;
}

QVariant firstArgument(const QDBusMessage& reply)
{
    return reply.arguments().isEmpty() ? QVariant() : reply.arguments().constFirst();
}

// The value of a Get reply.
QVariant propertyValue(const QDBusMessage& reply)
{
    if (isError(reply))
        return {};
    return firstArgument(reply).value<QDBusVariant>().variant();
}

struct ListedUnit {
    QString name;
    QString description;
    QString activeState;
};

// The timer files in the folders the manager loads units from, by unit name: the first folder
// that has a name is the one the manager reads it from.
QHash<QString, QString> timerFiles(const QStringList& unitPath)
{
    QHash<QString, QString> files;
    for (const QString& folder : unitPath) {
        const QDir dir(folder);
        // System: a masked unit is a link to /dev/null.
        for (const QString& name : dir.entryList({QStringLiteral("*.timer")},
                                                 QDir::Files | QDir::System | QDir::Hidden)) {
            if (!files.contains(name))
                files.insert(name, dir.filePath(name));
        }
    }
    return files;
}

// ListUnits and its kin: a(ssssssouso).
QList<ListedUnit> listedUnits(const QDBusMessage& reply)
{
    QList<ListedUnit> units;
    const std::optional<QDBusArgument> argument = container(firstArgument(reply), "a(ssssssouso)");
    if (!argument)
        return units;
    argument->beginArray();
    while (!argument->atEnd()) {
        ListedUnit unit;
        QString loadState, sub, following, jobType;
        QDBusObjectPath path, jobPath;
        uint jobId = 0;
        argument->beginStructure();
        *argument >> unit.name >> unit.description >> loadState >> unit.activeState >> sub >>
            following >> path >> jobId >> jobType >> jobPath;
        argument->endStructure();
        units.append(std::move(unit));
    }
    argument->endArray();
    return units;
}

// The manager keeps a timer's triggers newest first; they are put back in the order written.
QStringList calendarTriggers(const QVariant& value)
{
    QStringList expressions;
    const std::optional<QDBusArgument> argument = container(value, "a(sst)");
    if (!argument)
        return expressions;
    argument->beginArray();
    while (!argument->atEnd()) {
        QString base, expression;
        qulonglong next = 0;
        argument->beginStructure();
        *argument >> base >> expression >> next;
        argument->endStructure();
        expressions.prepend(expression);
    }
    argument->endArray();
    return expressions;
}

QList<MonotonicTrigger> monotonicTriggers(const QVariant& value)
{
    QList<MonotonicTrigger> triggers;
    const std::optional<QDBusArgument> argument = container(value, "a(stt)");
    if (!argument)
        return triggers;
    argument->beginArray();
    while (!argument->atEnd()) {
        MonotonicTrigger trigger;
        qulonglong offset = 0, next = 0;
        argument->beginStructure();
        *argument >> trigger.base >> offset >> next;
        argument->endStructure();
        trigger.offsetUSec = offset;
        triggers.prepend(trigger);
    }
    argument->endArray();
    return triggers;
}

// ExecStart: a(sasbttttuii), of which the argument vector of each line.
QList<QStringList> commandLines(const QVariant& value)
{
    QList<QStringList> lines;
    const std::optional<QDBusArgument> argument = container(value, "a(sasbttttuii)");
    if (!argument)
        return lines;
    argument->beginArray();
    while (!argument->atEnd()) {
        QString path;
        QStringList arguments;
        bool ignoreFailure = false;
        qulonglong started = 0, startedMonotonic = 0, exited = 0, exitedMonotonic = 0;
        uint pid = 0;
        int code = 0, status = 0;
        argument->beginStructure();
        *argument >> path >> arguments >> ignoreFailure >> started >> startedMonotonic >> exited >>
            exitedMonotonic >> pid >> code >> status;
        argument->endStructure();
        lines.append(arguments.isEmpty() ? QStringList{path} : arguments);
    }
    argument->endArray();
    return lines;
}

// "name@.timer" is a template: only its instances run.
bool isTemplate(const QString& unit)
{
    return unit.endsWith(QLatin1String("@.timer"));
}

// The requests for a group of timers, sent together and read together.
class TimerRequests {
public:
    TimerRequests(const QDBusConnection& bus, const QStringList& names) : m_names(names)
    {
        if (names.isEmpty())
            return;
        // Loads the timers that are not loaded, before their properties are asked for.
        m_listed =
            bus.asyncCall(managerCall(QStringLiteral("ListUnitsByNames"), {names}), readTimeoutMs);
        for (const QString& name : names)
            m_properties.append(
                bus.asyncCall(propertiesCall(SystemdClient::unitPath(name),
                                             QStringLiteral("GetAll"), {timerInterface}),
                              readTimeoutMs));
    }

    // Adds the timers to `timers`; the reply that failed the whole group, if one did.
    std::optional<QDBusMessage> collect(const QHash<QString, QString>& files,
                                        QList<TimerUnit>& timers)
    {
        if (m_names.isEmpty())
            return std::nullopt;
        const QDBusMessage listedReply = awaited(m_listed);
        if (isError(listedReply))
            return listedReply;
        const QList<ListedUnit> listed = listedUnits(listedReply);
        for (qsizetype i = 0; i < m_names.size() && i < listed.size(); ++i) {
            // A timer that went in the meantime has no properties any more.
            const QDBusMessage reply = awaited(m_properties[i]);
            if (isError(reply))
                continue;
            const QVariantMap properties =
                qdbus_cast<QVariantMap>(firstArgument(reply).value<QDBusArgument>());
            TimerUnit timer;
            timer.name = m_names[i];
            timer.description = listed[i].description;
            timer.activeState = listed[i].activeState;
            if (const auto file = files.constFind(timer.name); file != files.constEnd())
                timer.fragmentPath = *file;
            timer.service = properties.value(QStringLiteral("Unit")).toString();
            timer.calendar = calendarTriggers(properties.value(QStringLiteral("TimersCalendar")));
            timer.monotonic =
                monotonicTriggers(properties.value(QStringLiteral("TimersMonotonic")));
            timer.nextElapseRealtime =
                properties.value(QStringLiteral("NextElapseUSecRealtime")).toULongLong();
            timer.nextElapseMonotonic =
                properties.value(QStringLiteral("NextElapseUSecMonotonic")).toULongLong();
            timer.lastTrigger = properties.value(QStringLiteral("LastTriggerUSec")).toULongLong();
            timers.append(std::move(timer));
        }
        return std::nullopt;
    }

private:
    QStringList m_names;
    QDBusPendingCall m_listed = QDBusPendingCall::fromCompletedCall(QDBusMessage());
    QList<QDBusPendingCall> m_properties;
};

// The requests for a group of services, sent together and read together, for those that the
// cache does not have. Each property is asked for alone: the service interface's GetAll also
// makes the manager read every cgroup counter of the unit, which costs it twice as much as the
// separate questions. Only a service that is not dead can have a main process, so only those
// are asked for it, once the manager has said which they are.
class ServiceRequests {
public:
    ServiceRequests(const QDBusConnection& bus, const QStringList& names, ServiceCache* cache)
        : m_bus(bus), m_cache(cache), m_generation(cache ? cache->generation() : 0)
    {
        QStringList asked;
        for (const QString& name : names) {
            if (std::optional<TimerService> known = cache ? cache->find(name) : std::nullopt) {
                m_known.append(std::move(*known));
                continue;
            }
            asked.append(name);
            m_pending.append({name, get(name, QStringLiteral("ExecMainCode")),
                              get(name, QStringLiteral("ExecMainStatus")),
                              get(name, QStringLiteral("ExecStart"))});
        }
        if (!asked.isEmpty())
            m_listed = bus.asyncCall(managerCall(QStringLiteral("ListUnitsByNames"), {asked}),
                                     readTimeoutMs);
    }

    // Adds the services to `services`; the reply that failed the whole group, if one did.
    std::optional<QDBusMessage> collect(QHash<QString, TimerService>& services)
    {
        for (const TimerService& known : std::as_const(m_known))
            services.insert(known.name, known);
        if (m_pending.isEmpty())
            return std::nullopt;
        const QDBusMessage listedReply = awaited(m_listed);
        if (isError(listedReply))
            return listedReply;
        const QList<ListedUnit> listed = listedUnits(listedReply);
        QHash<qsizetype, QDBusPendingCall> mainPids;
        for (qsizetype i = 0; i < m_pending.size() && i < listed.size(); ++i) {
            const QString& state = listed[i].activeState;
            if (state != QLatin1String("inactive") && state != QLatin1String("failed"))
                mainPids.insert(i, get(m_pending[i].name, QStringLiteral("MainPID")));
        }
        for (qsizetype i = 0; i < m_pending.size(); ++i) {
            Pending& pending = m_pending[i];
            TimerService service;
            service.name = pending.name;
            if (i < listed.size())
                service.description = listed[i].description;
            const QDBusMessage code = awaited(pending.code);
            const QDBusMessage status = awaited(pending.status);
            const QDBusMessage execStart = awaited(pending.execStart);
            service.execMainCode = propertyValue(code).toInt();
            service.execMainStatus = propertyValue(status).toInt();
            service.execStart = commandLines(propertyValue(execStart));
            bool complete = !isError(code) && !isError(status) && !isError(execStart);
            if (const auto pid = mainPids.find(i); pid != mainPids.end()) {
                const QDBusMessage mainPid = awaited(*pid);
                service.mainPid = propertyValue(mainPid).toUInt();
                complete = complete && !isError(mainPid);
            }
            if (m_cache && complete)
                m_cache->store(m_generation, service);
            services.insert(service.name, std::move(service));
        }
        return std::nullopt;
    }

private:
    struct Pending {
        QString name;
        QDBusPendingCall code;
        QDBusPendingCall status;
        QDBusPendingCall execStart;
    };

    QDBusPendingCall get(const QString& unit, const QString& property) const
    {
        return m_bus.asyncCall(propertiesCall(SystemdClient::unitPath(unit), QStringLiteral("Get"),
                                              {serviceInterface, property}),
                               readTimeoutMs);
    }

    QDBusConnection m_bus;
    ServiceCache* m_cache;
    quint64 m_generation;
    QList<TimerService> m_known;
    QList<Pending> m_pending;
    QDBusPendingCall m_listed = QDBusPendingCall::fromCompletedCall(QDBusMessage());
};

// The services that timers most likely start: the one each started at the last listing, else
// the one of its own name.
QStringList guessedServices(const QStringList& timers, const QHash<QString, QString>& lastSeen)
{
    QStringList services;
    for (const QString& timer : timers) {
        const QString service =
            lastSeen.value(timer, timer.chopped(int(QStringLiteral(".timer").size())) +
                                      QStringLiteral(".service"));
        if (!services.contains(service))
            services.append(service);
    }
    return services;
}

} // namespace

const QString SystemdClient::service = QStringLiteral("org.freedesktop.systemd1");
const QString SystemdClient::managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString SystemdClient::managerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");

SystemdClient::SystemdClient(QDBusConnection bus, bool interactive)
    : m_bus(std::move(bus)), m_interactive(interactive)
{
}

QDBusConnection SystemdClient::bus() const
{
    return m_bus;
}

QString SystemdClient::unitPath(const QString& unit)
{
    static constexpr char hex[] = "0123456789abcdef";
    QString path = managerPath + QStringLiteral("/unit/");
    const QByteArray bytes = unit.toUtf8();
    if (bytes.isEmpty())
        return path + u'_';
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            path += QLatin1Char(byte);
        } else {
            path += u'_';
            path += QLatin1Char(hex[c >> 4]);
            path += QLatin1Char(hex[c & 0xf]);
        }
    }
    return path;
}

SystemdClient::Reading SystemdClient::readTimers(ServiceCache* cache) const
{
    // A bus that is not connected answers every call with an error of its own, which says so.
    // The folders the manager reads units from are fixed while it runs. They are read here
    // rather than through the manager's ListUnitFiles, which works out the enablement of every
    // unit file on the way and takes many times as long as all the rest.
    std::optional<QStringList> folders;
    {
        std::lock_guard lock(m_mutex);
        folders = m_unitFolders;
    }
    if (!folders) {
        QDBusPendingCall call =
            m_bus.asyncCall(propertiesCall(managerPath, QStringLiteral("Get"),
                                           {managerInterface, QStringLiteral("UnitPath")}),
                            readTimeoutMs);
        const QDBusMessage reply = awaited(call);
        if (isError(reply))
            return failure(reply);
        folders = propertyValue(reply).toStringList();
        std::lock_guard lock(m_mutex);
        m_unitFolders = folders;
    }
    const QHash<QString, QString> files = timerFiles(*folders);
    QHash<QString, QString> lastSeen;
    {
        std::lock_guard lock(m_mutex);
        lastSeen = m_serviceOfTimer;
    }

    QStringList names;
    for (auto file = files.constBegin(); file != files.constEnd(); ++file) {
        if (!isTemplate(file.key()))
            names.append(file.key());
    }
    // Every call of a round is sent before any answer is awaited: the manager answers them in
    // order, one after the other, while this thread waits once.
    QDBusPendingCall loaded =
        m_bus.asyncCall(managerCall(QStringLiteral("ListUnitsByPatterns"),
                                    {QStringList(), QStringList{QStringLiteral("*.timer")}}),
                        readTimeoutMs);
    TimerRequests timers(m_bus, names);
    ServiceRequests services(m_bus, guessedServices(names, lastSeen), cache);
    const QDBusMessage loadedReply = awaited(loaded);
    if (isError(loadedReply))
        return failure(loadedReply);

    // Loaded timers that no folder has a file for: those whose file went since.
    QStringList unfiled;
    for (const ListedUnit& unit : listedUnits(loadedReply)) {
        if (!files.contains(unit.name) && !isTemplate(unit.name))
            unfiled.append(unit.name);
    }
    TimerRequests unfiledTimers(m_bus, unfiled);
    ServiceRequests unfiledServices(m_bus, guessedServices(unfiled, lastSeen), cache);

    Reading reading;
    TimerSnapshot& snapshot = reading.snapshot;
    for (auto* group : {&timers, &unfiledTimers}) {
        if (const std::optional<QDBusMessage> failed = group->collect(files, snapshot.timers))
            return failure(*failed);
    }
    for (auto* group : {&services, &unfiledServices}) {
        if (const std::optional<QDBusMessage> failed = group->collect(snapshot.services))
            return failure(*failed);
    }

    // A timer may start a service of another name (Unit=).
    QStringList others;
    for (const TimerUnit& timer : std::as_const(snapshot.timers)) {
        if (!timer.service.isEmpty() && !snapshot.services.contains(timer.service) &&
            !others.contains(timer.service))
            others.append(timer.service);
    }
    ServiceRequests otherServices(m_bus, others, cache);
    if (const std::optional<QDBusMessage> failed = otherServices.collect(snapshot.services))
        return failure(*failed);

    std::lock_guard lock(m_mutex);
    m_serviceOfTimer.clear();
    for (const TimerUnit& timer : std::as_const(snapshot.timers))
        m_serviceOfTimer.insert(timer.name, timer.service);
    return reading;
}

QString SystemdClient::serviceOf(const QString& timer) const
{
    QHash<QString, QString> lastSeen;
    {
        std::lock_guard lock(m_mutex);
        lastSeen = m_serviceOfTimer;
    }
    return guessedServices({timer}, lastSeen).constFirst();
}

std::optional<QString> SystemdClient::call(const QString& method,
                                           const QVariantList& arguments) const
{
    QDBusMessage message = managerCall(method, arguments);
    message.setInteractiveAuthorizationAllowed(m_interactive);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, actionTimeoutMs);
    if (isError(reply))
        return reply.errorMessage();
    return std::nullopt;
}

std::optional<QString> SystemdClient::startUnit(const QString& unit) const
{
    return call(QStringLiteral("StartUnit"), {unit, replaceMode});
}

std::optional<QString> SystemdClient::stopUnit(const QString& unit) const
{
    return call(QStringLiteral("StopUnit"), {unit, replaceMode});
}

std::optional<QString> SystemdClient::enableNow(const QString& unit) const
{
    if (auto error = call(QStringLiteral("EnableUnitFiles"), {QStringList{unit}, false, false}))
        return error;
    if (auto error = call(QStringLiteral("Reload"), {}))
        return error;
    return startUnit(unit);
}

std::optional<QString> SystemdClient::disableNow(const QString& unit) const
{
    if (auto error = call(QStringLiteral("DisableUnitFiles"), {QStringList{unit}, false}))
        return error;
    if (auto error = call(QStringLiteral("Reload"), {}))
        return error;
    return stopUnit(unit);
}

bool SystemdClient::subscribe() const
{
    const QDBusMessage reply =
        m_bus.call(managerCall(QStringLiteral("Subscribe"), {}), QDBus::Block, readTimeoutMs);
    // The manager counts subscriptions per connection, which other sources may share.
    return !isError(reply) ||
           reply.errorName() == QLatin1String("org.freedesktop.systemd1.AlreadySubscribed");
}

#include "AppSettings.h"
#include "EngineApi.h"
#include "PortScanner.h"
#include "ProcessControl.h"
#include "SafeText.h"
#include "StoreSupport.h"
#include "Stores.h"
#include "SystemdServices.h"

#include <QSet>
#include <QStringList>

#include <charconv>

// Setters notify only when the value really changes; a refresh always replaces `ports`, and
// since every scan gives its records fresh ids, a new list differs from the old unless both are
// empty.

namespace {

bool matches(const ServicePort& record, const StoreSupport::LoweredQuery& query)
{
    if (StoreSupport::containsLowered(record.displayName(), query))
        return true;

    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), record.port).ptr;
    char16_t wide[24];
    qsizetype length = 0;
    for (const char* c = digits; c != end; ++c)
        wide[length++] = static_cast<char16_t>(*c);
    if (StoreSupport::containsLowered(QStringView(wide, length), query))
        return true;

    if (StoreSupport::containsLowered(record.command, query))
        return true;
    if (StoreSupport::containsLowered(record.address, query))
        return true;
    if (record.commandLine && StoreSupport::containsLowered(*record.commandLine, query))
        return true;
    if (record.container &&
        (StoreSupport::containsLowered(record.container->displayName(), query) ||
         (record.container->image &&
          StoreSupport::containsLowered(*record.container->image, query))))
        return true;
    return record.workingDir && StoreSupport::containsLowered(*record.workingDir, query);
}

} // namespace

PortsStore::PortsStore(QObject* parent)
    : QObject(parent), m_mailbox(std::make_shared<StoreSupport::Mailbox>())
{
    m_mailbox->receiver = this;
}

PortsStore::~PortsStore()
{
    StoreSupport::close(*m_mailbox);
}

const QList<ServicePort>& PortsStore::ports() const
{
    return m_ports;
}

void PortsStore::setPorts(const QList<ServicePort>& ports)
{
    if (m_ports == ports)
        return;
    m_ports = ports;
    emit portsChanged();
}

bool PortsStore::isLoading() const
{
    return m_isLoading;
}

void PortsStore::setIsLoading(bool isLoading)
{
    if (m_isLoading == isLoading)
        return;
    m_isLoading = isLoading;
    emit isLoadingChanged();
}

std::optional<QString> PortsStore::lastError() const
{
    return m_lastError;
}

void PortsStore::setLastError(const std::optional<QString>& error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}

QString PortsStore::filter() const
{
    return m_filter;
}

void PortsStore::setFilter(const QString& filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    emit filterChanged();
}

bool PortsStore::commonOnly() const
{
    return m_commonOnly;
}

void PortsStore::setCommonOnly(bool commonOnly)
{
    if (m_commonOnly == commonOnly)
        return;
    m_commonOnly = commonOnly;
    emit commonOnlyChanged();
}

QList<ServicePort> PortsStore::filtered() const
{
    if (!m_commonOnly && m_filter.isEmpty())
        return m_ports;

    QSet<qint64> common;
    if (m_commonOnly)
        common = AppSettings::shared().portNumbers();
    const StoreSupport::LoweredQuery query(m_filter);

    QList<ServicePort> result;
    for (const ServicePort& record : m_ports) {
        if (m_commonOnly && !common.contains(record.port))
            continue;
        if (!m_filter.isEmpty() && !matches(record, query))
            continue;
        result.append(record);
    }
    return result;
}

std::optional<ServicePort> PortsStore::port(const QUuid& id) const
{
    for (const ServicePort& record : m_ports) {
        if (record.id == id)
            return record;
    }
    return std::nullopt;
}

void PortsStore::refresh()
{
    const quint64 generation = ++m_generation;
    setIsLoading(true);
    std::function<PortScanner::ScanResult()> scan = &PortScanner::scanResult;
    if (m_scanner)
        scan = [scanner = m_scanner] { return PortScanner::ScanResult{scanner(), std::nullopt}; };
    StoreSupport::runInBackground(
        m_mailbox, std::move(scan),
        [this, generation](const PortScanner::ScanResult& result) { publish(generation, result); });
}

void PortsStore::publish(quint64 generation, const PortScanner::ScanResult& result)
{
    // An older scan that ends after a newer one has started would bring back what the newer one
    // no longer sees (a process just terminated, for one); only the newest scan is shown.
    if (generation != m_generation)
        return;
    if (result.error) {
        // An empty table would read as "nothing listens": the rows stay as they were.
        m_scanError = QStringLiteral("无法列出监听端口：") + *result.error;
        setLastError(m_scanError);
    } else {
        if (m_scanError && m_lastError == m_scanError)
            setLastError(std::nullopt);
        m_scanError.reset();
        setPorts(result.ports);
        tellEngineProblem(result.engineProblem);
    }
    setIsLoading(false);
}

void PortsStore::tellEngineProblem(const std::optional<QString>& problem)
{
    if (!problem || m_engineProblemTold)
        return;
    m_engineProblemTold = true;
    // One line of its own: a failure already shown stays above it.
    const QString line = QStringLiteral("无法访问容器引擎：") + SafeText::visible(*problem);
    setLastError(m_lastError ? *m_lastError + QLatin1Char('\n') + line : line);
}

void PortsStore::kill(const ServicePort& port, bool force)
{
    const ProcessControl::Result result = ProcessControl::kill(port, force);
    if (!result.success) {
        setLastError(result.message);
        return;
    }
    setLastError(std::nullopt);
    refresh();
}

void PortsStore::killMany(const QList<ServicePort>& ports, bool force)
{
    QStringList lines;
    for (const ServicePort& record : ports) {
        const ProcessControl::Result result = ProcessControl::kill(record, force);
        if (result.success)
            continue;
        lines.append(QStringLiteral("端口 ") + QString::number(record.port) + QStringLiteral("（") +
                     SafeText::visible(record.displayName()) + QStringLiteral("）：") +
                     result.message);
    }
    setLastError(lines.isEmpty() ? std::nullopt
                                 : std::optional<QString>(lines.join(QLatin1Char('\n'))));
    refresh();
}

void PortsStore::stopService(const ServicePort& port)
{
    if (!port.service)
        return;
    const QString unit = port.service->name;
    SystemdServices::stop(*port.service, this, [this, unit](const SystemdServices::Result& result) {
        if (!result.success) {
            setLastError(QLatin1Char('[') + unit + QStringLiteral("] ") + result.message);
            return;
        }
        setLastError(std::nullopt);
        refresh();
    });
}

void PortsStore::stopContainer(const ServicePort& port)
{
    if (!port.container || !port.container->canStop())
        return;
    const QString name = SafeText::visible(port.container->name);
    // The engine answers once the container has stopped, which may take its whole grace period:
    // the call runs on a pool of its own so that scans never wait behind it.
    StoreSupport::runInBackground(
        StoreSupport::slowCallsPool(), m_mailbox,
        [socket = *port.container->engineSocket, id = *port.container->id] {
            return Containers::stopContainer(socket, id);
        },
        [this, name](const Containers::StopResult& result) {
            if (!result.success) {
                setLastError(QLatin1Char('[') + name + QStringLiteral("] ") +
                             SafeText::visible(result.message));
                return;
            }
            setLastError(std::nullopt);
            refresh();
        });
}

void PortsStore::setScannerForTesting(Scanner scanner)
{
    m_scanner = std::move(scanner);
}

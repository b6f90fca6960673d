#include "AppSettings.h"
#include "EngineApi.h"
#include "ListenerInventory.h"
#include "PortScanner.h"
#include "ProcessControl.h"
#include "SafeText.h"
#include "StoreSupport.h"
#include "Stores.h"
#include "SystemdServices.h"
#include "WatchedProcess.h"

#include <QSet>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <mutex>

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

// A bulk action's line for a record whose process could not be signalled.
QString failureLine(const ServicePort& record, const QString& message)
{
    return QStringLiteral("端口 ") + QString::number(record.port) + QStringLiteral("（") +
           SafeText::visible(record.displayName()) + QStringLiteral("）：") + message;
}

} // namespace

struct PortsStore::SharedInventory {
    std::mutex mutex;
    ListenerInventory inventory;
};

struct PortsStore::Scanned {
    PortScanner::ScanResult result;
    ScanChanges changes;
};

PortsStore::PortsStore(QObject* parent)
    : QObject(parent), m_mailbox(std::make_shared<StoreSupport::Mailbox>()),
      m_inventory(std::make_shared<SharedInventory>())
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

ScanChanges PortsStore::changesSince(const QList<ServicePort>& before) const
{
    if (m_changes && m_changes->before.constData() == before.constData() &&
        m_changes->before.size() == before.size() && m_changed.constData() == m_ports.constData() &&
        m_changed.size() == m_ports.size())
        return *m_changes;
    return ScanChanges::between(before, m_ports);
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
    setIsLoading(true);
    scan(false);
}

bool PortsStore::rescan()
{
    if (m_scansRunning > 0)
        return false;
    scan(true);
    return true;
}

void PortsStore::scan(bool followUp)
{
    const quint64 generation = ++m_generation;
    ++m_scansRunning;
    std::function<PortScanner::ScanResult()> scanner = [inventory = m_inventory, followUp] {
        // A user's refresh may start while a quiet scan still runs: it waits its turn.
        std::lock_guard lock(inventory->mutex);
        return followUp ? PortScanner::rescanResult(inventory->inventory)
                        : PortScanner::scanResult(inventory->inventory);
    };
    if (m_scanner)
        scanner = [test = m_scanner] { return PortScanner::ScanResult{test(), std::nullopt}; };
    // How the rows change is worked out there too, against the records shown now.
    auto work = [scanner = std::move(scanner), before = m_ports] {
        Scanned scanned{scanner(), {}};
        scanned.changes = ScanChanges::between(before, scanned.result.ports);
        return scanned;
    };
    StoreSupport::runInBackground(m_mailbox, std::move(work),
                                  [this, generation](const Scanned& scanned) {
                                      --m_scansRunning;
                                      publish(generation, scanned);
                                      emit scanEnded();
                                      if (m_rescanWanted && m_scansRunning == 0) {
                                          m_rescanWanted = false;
                                          rescan();
                                      }
                                  });
}

void PortsStore::publish(quint64 generation, const Scanned& scanned)
{
    const PortScanner::ScanResult& result = scanned.result;
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
        // The table takes the changes while it hears of the new records; then they go, with the
        // records they started from.
        m_changes = scanned.changes;
        m_changed = result.ports;
        setPorts(result.ports);
        m_changes.reset();
        m_changed.clear();
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
    const ProcessControl::Result result =
        force ? ProcessControl::kill(port, true) : terminate(port);
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
        const ProcessControl::Result result =
            force ? ProcessControl::kill(record, true) : terminate(record);
        if (!result.success)
            lines.append(failureLine(record, result.message));
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

ProcessControl::Result PortsStore::terminate(const ServicePort& port)
{
    WatchedProcess::Termination termination = WatchedProcess::terminate(port);
    if (termination.watched)
        watch(std::move(termination.watched));
    return termination.result;
}

void PortsStore::watch(std::unique_ptr<WatchedProcess> process)
{
    // Two records of one process send it SIGTERM twice; one watch is enough.
    for (const auto& watched : m_watched) {
        if (watched->record().pid == process->record().pid &&
            watched->record().startTime == process->record().startTime)
            return;
    }
    WatchedProcess* watched = process.get();
    connect(watched, &WatchedProcess::ended, this, [this, watched] { ended(watched); });
    QTimer::singleShot(sigtermGrace, watched, [this, watched] { linger(watched); });
    m_watched.push_back(std::move(process));
}

void PortsStore::linger(WatchedProcess* process)
{
    if (process->hasEnded())
        return;
    // Processes named in a banner the user dismissed are not named again.
    if (!lingeringShown())
        m_lingering.clear();
    m_lingering.append(process);
    showLingering();
}

void PortsStore::ended(WatchedProcess* process)
{
    const bool shown = lingeringShown();
    if (m_lingering.removeOne(process) && shown)
        showLingering();
    const auto found =
        std::find_if(m_watched.begin(), m_watched.end(),
                     [process](const auto& watched) { return watched.get() == process; });
    if (found != m_watched.end()) {
        // It is still sending the signal that brought us here.
        found->release()->deleteLater();
        m_watched.erase(found);
    }
    // Its row goes with the next scan, which need not wait for the next automatic one.
    if (!rescan())
        m_rescanWanted = true;
}

void PortsStore::showLingering()
{
    if (m_lingering.isEmpty()) {
        m_lingeringText.reset();
        setLastError(std::nullopt);
        return;
    }
    QStringList lines;
    for (const WatchedProcess* process : std::as_const(m_lingering)) {
        const ServicePort& record = process->record();
        lines.append(
            QStringLiteral("进程 %1（%2）在 SIGTERM 后仍在运行。")
                .arg(QString::number(record.pid), SafeText::visible(record.displayName())));
    }
    m_lingeringText = lines.join(QLatin1Char('\n'));
    setLastError(m_lingeringText);
}

bool PortsStore::lingeringShown() const
{
    return m_lingeringText && m_lastError == m_lingeringText;
}

QList<ServicePort> PortsStore::lingering() const
{
    QList<ServicePort> records;
    if (!lingeringShown())
        return records;
    for (const WatchedProcess* process : m_lingering)
        records.append(process->record());
    return records;
}

void PortsStore::killLingering()
{
    if (!lingeringShown())
        return;
    QStringList failures;
    for (const WatchedProcess* process : std::as_const(m_lingering)) {
        const ProcessControl::Result result = process->kill();
        if (!result.success)
            failures.append(m_lingering.size() == 1
                                ? result.message
                                : failureLine(process->record(), result.message));
    }
    // Those that were killed end soon and take the banner with them; a failure replaces it.
    if (!failures.isEmpty()) {
        m_lingering.clear();
        m_lingeringText.reset();
        setLastError(failures.join(QLatin1Char('\n')));
    }
}

void PortsStore::setScannerForTesting(Scanner scanner)
{
    m_scanner = std::move(scanner);
}

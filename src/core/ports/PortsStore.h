#pragma once

#include "PortScanner.h"
#include "ProcessControl.h"
#include "ScanChanges.h"
#include "ServicePort.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace StoreSupport {
// Where a background task leaves its result: the store's thread, as long as the store exists.
// The store clears `receiver` when it is destroyed, under the same lock the task posts under.
struct Mailbox;
} // namespace StoreSupport

class WatchedProcess;

// The observable state behind the ports screen. Every field has a getter, a setter and a signal;
// a setter notifies when the value changes, and setting an equal value is no change.
// refresh() scans on a worker thread and writes `ports` and `isLoading` on the store's own
// thread; when refreshes overlap, only the newest one publishes, and `isLoading` stays true until
// it has. A scan that cannot list the sockets keeps the rows as they were and says why in
// `lastError`; so does the first scan that finds a container engine failing. A store destroyed
// while it scans drops the scan's result.
// rescan() is the quiet refresh that runs by itself: it leaves `isLoading` alone, starts only when
// no scan runs, and looks again only at what may have changed since the scan before.
// A process sent SIGTERM is watched: one still running after sigtermGrace is named in
// `lastError`, and lingering() offers it for SIGKILL; its end takes that text down again.
class PortsStore : public QObject {
    Q_OBJECT

public:
    explicit PortsStore(QObject* parent = nullptr);
    ~PortsStore() override;

    const QList<ServicePort>& ports() const;
    void setPorts(const QList<ServicePort>& ports);
    bool isLoading() const;
    void setIsLoading(bool isLoading);
    std::optional<QString> lastError() const;
    void setLastError(const std::optional<QString>& error);
    QString filter() const;
    void setFilter(const QString& filter);
    bool commonOnly() const;
    void setCommonOnly(bool commonOnly);

    // The records to show: the common-ports filter, then the search text.
    QList<ServicePort> filtered() const;
    // How the records now in `ports` follow these earlier ones: as the scan that found them
    // worked it out when it started from these very records, else worked out now.
    ScanChanges changesSince(const QList<ServicePort>& before) const;
    std::optional<ServicePort> port(const QUuid& id) const;

    // Starts a scan in the background; returns at once.
    void refresh();
    // Starts a quiet scan in the background, unless a scan is running; says whether it started.
    bool rescan();
    // Both signal a record's process only while it is the process the scan saw (by start time).
    void kill(const ServicePort& port, bool force);
    void killMany(const QList<ServicePort>& ports, bool force);
    // Asks the manager of the record's service to stop it; refreshes once it has, or puts its
    // answer in `lastError`. Returns at once.
    void stopService(const ServicePort& port);
    // Asks the engine that listed the record's container to stop it, on a worker thread; refreshes
    // once it has, or puts "[name] " and the engine's answer in `lastError`. Returns at once.
    void stopContainer(const ServicePort& port);

    static constexpr std::chrono::milliseconds sigtermGrace{3000};
    // The processes that outlasted sigtermGrace after SIGTERM, while `lastError` names them.
    QList<ServicePort> lingering() const;
    // Sends SIGKILL to each of them, the very process that was sent SIGTERM.
    void killLingering();

    // Replaces the socket scan that refresh() runs in the background (tests only: e.g. a scan
    // held back until the test lets it go). An empty function restores PortScanner::scan.
    using Scanner = std::function<QList<ServicePort>()>;
    void setScannerForTesting(Scanner scanner);

signals:
    void portsChanged();
    void isLoadingChanged();
    void lastErrorChanged();
    void filterChanged();
    void commonOnlyChanged();
    // A scan has ended, and its result is shown unless a newer scan had started.
    void scanEnded();

private:
    QList<ServicePort> m_ports;
    bool m_isLoading = false;
    std::optional<QString> m_lastError;
    QString m_filter;
    bool m_commonOnly = false;

    Scanner m_scanner;
    // The text of the last failed scan while it is shown, so that a later scan that succeeds can
    // take it down again.
    std::optional<QString> m_scanError;
    // A container engine's failure is told once per store, not at every scan that meets it.
    bool m_engineProblemTold = false;
    // Counts refreshes; only the newest one publishes its result.
    quint64 m_generation = 0;
    int m_scansRunning = 0;
    // A quiet scan is due once the running one has ended.
    bool m_rescanWanted = false;
    std::shared_ptr<StoreSupport::Mailbox> m_mailbox;
    // What the scans found before, for the next to start from; one scan at a time uses it.
    struct SharedInventory;
    std::shared_ptr<SharedInventory> m_inventory;

    std::vector<std::unique_ptr<WatchedProcess>> m_watched;
    QList<WatchedProcess*> m_lingering;
    std::optional<QString> m_lingeringText;

    // The changes the last scan brought, and the records they lead to.
    std::optional<ScanChanges> m_changes;
    QList<ServicePort> m_changed;

    struct Scanned;
    void scan(bool followUp);
    void publish(quint64 generation, const Scanned& scanned);
    ProcessControl::Result terminate(const ServicePort& port);
    void watch(std::unique_ptr<WatchedProcess> process);
    void linger(WatchedProcess* process);
    void ended(WatchedProcess* process);
    void showLingering();
    bool lingeringShown() const;
    void tellEngineProblem(const std::optional<QString>& problem);
};

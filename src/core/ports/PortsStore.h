#pragma once

#include "PortScanner.h"
#include "ServicePort.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace StoreSupport {
// Where a background task leaves its result: the store's thread, as long as the store exists.
// The store clears `receiver` when it is destroyed, under the same lock the task posts under.
struct Mailbox;
} // namespace StoreSupport

// The observable state behind the ports screen. Every field has a getter, a setter and a signal;
// a setter notifies when the value changes, and setting an equal value is no change.
// refresh() scans on a worker thread and writes `ports` and `isLoading` on the store's own
// thread; when refreshes overlap, only the newest one publishes, and `isLoading` stays true until
// it has. A scan that cannot list the sockets keeps the rows as they were and says why in
// `lastError`; so does the first scan that finds a container engine failing. A store destroyed
// while it scans drops the scan's result.
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
    std::optional<ServicePort> port(const QUuid& id) const;

    // Starts a scan in the background; returns at once.
    void refresh();
    // Both signal a record's process only while it is the process the scan saw (by start time).
    void kill(const ServicePort& port, bool force);
    void killMany(const QList<ServicePort>& ports, bool force);
    // Asks the manager of the record's service to stop it; refreshes once it has, or puts its
    // answer in `lastError`. Returns at once.
    void stopService(const ServicePort& port);
    // Asks the engine that listed the record's container to stop it, on a worker thread; refreshes
    // once it has, or puts "[name] " and the engine's answer in `lastError`. Returns at once.
    void stopContainer(const ServicePort& port);

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
    std::shared_ptr<StoreSupport::Mailbox> m_mailbox;

    void publish(quint64 generation, const PortScanner::ScanResult& result);
    void tellEngineProblem(const std::optional<QString>& problem);
};

#pragma once

#include "LaunchdJob.h"

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

// The observable state behind the scheduled-jobs screen. Fields, notifications and refreshes
// behave as in PortsStore (PortsStore.h).
class LaunchdStore : public QObject {
    Q_OBJECT

public:
    explicit LaunchdStore(QObject* parent = nullptr);
    ~LaunchdStore() override;

    const QList<LaunchdJob>& jobs() const;
    void setJobs(const QList<LaunchdJob>& jobs);
    bool isLoading() const;
    void setIsLoading(bool isLoading);
    std::optional<QString> lastError() const;
    void setLastError(const std::optional<QString>& error);
    QString filter() const;
    void setFilter(const QString& filter);
    bool hideApple() const;
    void setHideApple(bool hideApple);
    bool runningOnly() const;
    void setRunningOnly(bool runningOnly);

    // The jobs to show: scheduled ones only, then the Apple, running and text filters.
    QList<LaunchdJob> filtered() const;

    // Starts a listing in the background; returns at once.
    void refresh();

    // Replaces the listing that refresh() runs in the background (tests only). An empty function
    // restores LaunchctlManager::list.
    using Lister = std::function<QList<LaunchdJob>()>;
    void setListerForTesting(Lister lister);

signals:
    void jobsChanged();
    void isLoadingChanged();
    void lastErrorChanged();
    void filterChanged();
    void hideAppleChanged();
    void runningOnlyChanged();

private:
    QList<LaunchdJob> m_jobs;
    bool m_isLoading = false;
    std::optional<QString> m_lastError;
    QString m_filter;
    bool m_hideApple = true;
    bool m_runningOnly = false;

    Lister m_lister;
    // Counts refreshes; only the newest one publishes its result.
    quint64 m_generation = 0;
    std::shared_ptr<StoreSupport::Mailbox> m_mailbox;

    void publish(quint64 generation, const QList<LaunchdJob>& jobs);
};

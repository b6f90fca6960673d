#pragma once

#include "Models.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

// The observable state behind the ports screen.
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
    void kill(const ServicePort& port, bool force);
    void killMany(const QList<ServicePort>& ports, bool force);

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
};

// The observable state behind the scheduled-jobs screen.
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
};

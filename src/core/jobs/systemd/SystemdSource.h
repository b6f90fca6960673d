#pragma once

#include "JobSource.h"
#include "ServiceCache.h"
#include "SystemdClient.h"

#include <QDBusConnection>
#include <QHash>
#include <QSet>

#include <mutex>

class QDBusMessage;

// The timers of one systemd manager: the user's own (on the session bus) or the machine's (on
// the system bus). A bus without a manager makes the source absent; a manager that answered
// once and then stops answering is a failure, so that its rows stay with the reason beside them.
// The manager's change signals for the listed timers and their services, new or removed timers
// and reloads make the source say that it changed. Once it has subscribed to them, the source
// keeps what it read of each service between listings until a signal says it may have changed.
class SystemdSource : public JobSource {
    Q_OBJECT

public:
    SystemdSource(JobScope scope, QDBusConnection bus, QObject* parent = nullptr);

    JobSourceKind kind() const override;
    JobScope scope() const;
    Listing list() override;
    ActionResult perform(const Job& job, JobAction action) override;

private slots:
    void onManagerSignal(const QDBusMessage& message);
    void onPropertiesChanged(const QDBusMessage& message);
    void onDisconnected();
    void onManagerReplaced();

private:
    const JobScope m_scope;
    const SystemdClient m_client;
    ServiceCache m_known;

    // What the last listing saw, for telling the signals that matter from the others; written
    // by list() on a worker, read by the slots on this object's thread.
    mutable std::mutex m_mutex;
    bool m_reached = false;
    bool m_subscribed = false;
    QSet<QString> m_timers;
    QSet<QString> m_timerFiles;
    QSet<QString> m_watchedPaths;

    void watch(const QString& interface, const QString& path, const QString& name,
               const char* slot);
    QString failure(const QString& reason) const;
};

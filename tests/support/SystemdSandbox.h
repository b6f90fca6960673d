#pragma once

#include "ProcessRunner.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <optional>

// A real systemd user manager for tests, fenced in so that it cannot touch the rest of the
// machine. Started plainly as root, a manager moves every process it can see into cgroups of its
// own; this one first moves its launcher into a fresh, empty cgroup2 subtree, then unshares a
// cgroup namespace rooted there and a mount namespace in which cgroup2 is mounted on
// /sys/fs/cgroup and an empty folder hides the machine's /run/systemd. The manager sees only its
// subtree and brings its own session bus. It is stopped by its pid, everything left in its subtree
// is killed through the subtree's cgroup.kill, and the subtree is removed.
class SystemdSandbox {
public:
    // Why no sandbox can start here (not root, no cgroup2, no systemd), or nothing when one can.
    static std::optional<QString> unavailableReason();

    // Starts the manager and waits until it answers on its bus; check isRunning() and error().
    SystemdSandbox();
    ~SystemdSandbox();
    SystemdSandbox(const SystemdSandbox&) = delete;
    SystemdSandbox& operator=(const SystemdSandbox&) = delete;

    bool isRunning() const;
    // Why the manager did not start, with the tail of its log.
    QString error() const;

    qint32 managerPid() const;
    // "unix:path=…/bus", the manager's session bus, and a connection to it.
    QString busAddress() const;
    QDBusConnection bus() const;
    // Where unit files for this manager go ($XDG_CONFIG_HOME/systemd/user).
    QString unitDirectory() const;
    // The manager's cgroup subtree, as seen from outside (e.g. "/kestrow-test-123-1").
    QString cgroupPath() const;

    // Writes a unit file into unitDirectory().
    void writeUnit(const QString& name, const QString& contents) const;
    // Runs `systemctl --user <arguments>` inside the manager's namespaces.
    ProcessRunner::Result systemctl(const QStringList& arguments) const;

    // True when every process in the subtree is the manager or one of its descendants, and this
    // test's own process is still where it was: the manager took nothing that was not its own.
    bool tookOnlyItsOwnProcesses() const;

    // Stops the manager now (the destructor does the same); afterwards the subtree is gone.
    void stop();

private:
    QString m_base;
    QString m_runtime;
    QString m_cgroupRoot;
    QString m_cgroup;
    QString m_ownCgroupBefore;
    QString m_error;
    QString m_connectionName;
    qint32 m_pid = 0;
    bool m_running = false;

    bool waitUntilReady();
    QString logTail() const;
};

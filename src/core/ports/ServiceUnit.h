#pragma once

#include <QHashFunctions>
#include <QString>

// The systemd service a process runs in, and the manager that runs it.
struct ServiceUnit {
    enum class Manager { system, user };

    // The unit's name, e.g. "postgresql.service".
    QString name;
    Manager manager = Manager::system;
    // The user manager's bus; empty for the system manager, which is on the system bus.
    QString busAddress;
    // The unit's Restart= is other than "no": the manager may start the process again once it
    // ends.
    bool restarts = false;

    bool operator==(const ServiceUnit&) const = default;
};

inline size_t qHash(const ServiceUnit& unit, size_t seed = 0)
{
    return qHashMulti(seed, unit.name, static_cast<int>(unit.manager), unit.busAddress,
                      unit.restarts);
}

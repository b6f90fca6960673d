#pragma once

#include "ServiceUnit.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// The systemd service behind a process: which unit and manager, whether it restarts the process,
// and stopping it.
namespace SystemdServices {

// The service unit of a process whose cgroup path ends in one ("/system.slice/ssh.service"). A
// path that passes through user@UID.service is that user's manager's, any other the system's.
std::optional<ServiceUnit> unitOfCgroup(QStringView cgroupPath);

// Asks each unit's manager whether it restarts the unit's process, all at once, and sets
// `restarts`. A manager that does not answer in time leaves it false.
void lookUpRestarts(QList<ServiceUnit*> units);

struct Result {
    bool success = false;
    QString message;
};

// Asks the unit's manager to stop it (the system manager may ask the user to authorise this).
// `done` runs on `context`'s thread once the manager has answered.
void stop(const ServiceUnit& unit, QObject* context, std::function<void(const Result&)> done);

namespace testing {
// Makes the processes below this cgroup path belong to a user manager on this bus (a manager a
// test started); an empty address forgets the path.
void setUserManager(const QString& cgroupPath, const QString& busAddress);
} // namespace testing

} // namespace SystemdServices

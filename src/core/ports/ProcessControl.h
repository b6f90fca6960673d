#pragma once

#include "ServicePort.h"
#include "platform/Platform.h"

#include <QString>

// Terminates processes and words the failures for the user.
namespace ProcessControl {

struct Result {
    bool success = false;
    QString message;

    bool operator==(const Result&) const = default;
};

// Sends SIGKILL when force is true, else SIGTERM. Identifiers below 1 are refused unsent.
Result kill(qint32 pid, bool force);

// The same, but only while pid is still the process that started at startTime (as
// ServicePort::startTime holds it): a process that has exited and left its pid to another gets
// nothing, and neither does the other.
Result killGuarded(qint32 pid, quint64 startTime, bool force);

// The record's process: guarded by its start time when it has one.
Result kill(const ServicePort& record, bool force);
// The same, holding on to the process in `held` (when it was signalled), so that it can be
// watched and signalled again without its pid.
Result kill(const ServicePort& record, bool force, Platform::HeldProcess& held);
// A process held before.
Result kill(const Platform::HeldProcess& held, bool force);

// The sentence shown when signalling failed with this error number (errno after kill).
QString failureMessage(int errorNumber);

} // namespace ProcessControl

#pragma once

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

// The sentence shown when signalling failed with this error number (errno after kill).
QString failureMessage(int errorNumber);

} // namespace ProcessControl

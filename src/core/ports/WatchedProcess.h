#pragma once

#include "ProcessControl.h"
#include "ServicePort.h"
#include "platform/Platform.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

// A process that was asked to end and is watched until it has. It is held by its handle rather
// than by its pid, so that a later signal reaches that process and no other.
class WatchedProcess : public QObject {
    Q_OBJECT

public:
    struct Termination {
        ProcessControl::Result result;
        // Empty when nothing was sent, or where a process cannot be held by a handle.
        std::unique_ptr<WatchedProcess> watched;
    };
    // Sends SIGTERM to the record's process, guarded by its start time when the record has one,
    // and watches the process it reached.
    static Termination terminate(const ServicePort& record);

    ~WatchedProcess() override;

    const ServicePort& record() const { return m_record; }
    bool hasEnded() const { return m_ended; }
    // SIGKILL to the same process.
    ProcessControl::Result kill() const;

signals:
    void ended();

private:
    WatchedProcess(const ServicePort& record, Platform::HeldProcess held);

    ServicePort m_record;
    Platform::HeldProcess m_held;
    QSocketNotifier* m_notifier = nullptr;
    bool m_ended = false;
};

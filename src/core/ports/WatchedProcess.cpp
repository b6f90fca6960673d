#include "WatchedProcess.h"

#include <QSocketNotifier>

WatchedProcess::Termination WatchedProcess::terminate(const ServicePort& record)
{
    Platform::HeldProcess held;
    Termination termination{ProcessControl::kill(record, false, held), nullptr};
    if (termination.result.success && held.handle.isValid())
        termination.watched.reset(new WatchedProcess(record, std::move(held)));
    return termination;
}

WatchedProcess::WatchedProcess(const ServicePort& record, Platform::HeldProcess held)
    : m_record(record), m_held(std::move(held))
{
    m_notifier = new QSocketNotifier(m_held.handle.descriptor(), QSocketNotifier::Read, this);
    // The handle stays readable once the process has ended: one notice is all there is.
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        m_notifier->setEnabled(false);
        m_ended = true;
        emit ended();
    });
}

WatchedProcess::~WatchedProcess()
{
    // Before the handle closes, so that nothing listens on a descriptor that may be reused.
    delete m_notifier;
}

ProcessControl::Result WatchedProcess::kill() const
{
    return ProcessControl::kill(m_held, true);
}

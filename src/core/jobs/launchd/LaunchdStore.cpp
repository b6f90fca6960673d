#include "LaunchctlManager.h"
#include "StoreSupport.h"
#include "Stores.h"

// Setters notify only when the value really changes (see PortsStore.cpp).

namespace {

const QString appleLabelPrefix = QStringLiteral("com.apple.");

bool matches(const LaunchdJob& job, const StoreSupport::LoweredQuery& query)
{
    if (StoreSupport::containsLowered(job.label, query))
        return true;
    if (StoreSupport::containsLowered(job.friendlyName(), query))
        return true;
    return job.program && StoreSupport::containsLowered(*job.program, query);
}

} // namespace

LaunchdStore::LaunchdStore(QObject* parent)
    : QObject(parent), m_mailbox(std::make_shared<StoreSupport::Mailbox>())
{
    m_mailbox->receiver = this;
}

LaunchdStore::~LaunchdStore()
{
    StoreSupport::close(*m_mailbox);
}

const QList<LaunchdJob>& LaunchdStore::jobs() const
{
    return m_jobs;
}

void LaunchdStore::setJobs(const QList<LaunchdJob>& jobs)
{
    if (m_jobs == jobs)
        return;
    m_jobs = jobs;
    emit jobsChanged();
}

bool LaunchdStore::isLoading() const
{
    return m_isLoading;
}

void LaunchdStore::setIsLoading(bool isLoading)
{
    if (m_isLoading == isLoading)
        return;
    m_isLoading = isLoading;
    emit isLoadingChanged();
}

std::optional<QString> LaunchdStore::lastError() const
{
    return m_lastError;
}

void LaunchdStore::setLastError(const std::optional<QString>& error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}

QString LaunchdStore::filter() const
{
    return m_filter;
}

void LaunchdStore::setFilter(const QString& filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    emit filterChanged();
}

bool LaunchdStore::hideApple() const
{
    return m_hideApple;
}

void LaunchdStore::setHideApple(bool hideApple)
{
    if (m_hideApple == hideApple)
        return;
    m_hideApple = hideApple;
    emit hideAppleChanged();
}

bool LaunchdStore::runningOnly() const
{
    return m_runningOnly;
}

void LaunchdStore::setRunningOnly(bool runningOnly)
{
    if (m_runningOnly == runningOnly)
        return;
    m_runningOnly = runningOnly;
    emit runningOnlyChanged();
}

QList<LaunchdJob> LaunchdStore::filtered() const
{
    const StoreSupport::LoweredQuery query(m_filter);
    QList<LaunchdJob> result;
    for (const LaunchdJob& job : m_jobs) {
        if (!job.schedule)
            continue;
        if (m_hideApple && job.label.startsWith(appleLabelPrefix))
            continue;
        if (m_runningOnly && !job.pid)
            continue;
        if (!m_filter.isEmpty() && !matches(job, query))
            continue;
        result.append(job);
    }
    return result;
}

void LaunchdStore::refresh()
{
    const quint64 generation = ++m_generation;
    setIsLoading(true);
    Lister lister = m_lister ? m_lister : Lister(&LaunchctlManager::list);
    StoreSupport::runInBackground(
        m_mailbox, std::move(lister),
        [this, generation](const QList<LaunchdJob>& jobs) { publish(generation, jobs); });
}

void LaunchdStore::publish(quint64 generation, const QList<LaunchdJob>& jobs)
{
    // Only the newest listing is shown; an older one that ends late is dropped.
    if (generation != m_generation)
        return;
    setJobs(jobs);
    setIsLoading(false);
}

void LaunchdStore::setListerForTesting(Lister lister)
{
    m_lister = std::move(lister);
}

#include "JobsStore.h"

#include "SafeText.h"
#include "StoreSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

namespace {

// How long a source's change signals are gathered before it is listed again.
constexpr int changeDelayMs = 100;

// A source is listed again just after the soonest next run of its rows, which is then past: cron
// and launchd work their next runs out only when they are listed, and nothing else tells them
// that one has come. Far-off runs are waited for a day at a time, which a timer can hold.
constexpr qint64 afterNextRunMs = 500;
constexpr qint64 longestWaitMs = 24 * 3600 * 1000;

void listAgainAfterNextRun(QTimer& timer, const QList<Job>& rows)
{
    const QDateTime now = QDateTime::currentDateTime();
    std::optional<qint64> soonest;
    for (const Job& job : rows) {
        // One that has passed already was not the source's to move on.
        const qint64 wait = job.nextRun ? now.msecsTo(*job.nextRun) : 0;
        if (wait > 0 && (!soonest || wait < *soonest))
            soonest = wait;
    }
    if (soonest)
        timer.start(static_cast<int>(std::min(*soonest + afterNextRunMs, longestWaitMs)));
    else
        timer.stop();
}

// Listings and actions run here rather than on the global pool: an action can wait half a
// minute on a tool that hangs, and the program's other background work must not queue behind it.
QThreadPool& jobsPool()
{
    static QThreadPool* const pool = [] {
        auto* created = new QThreadPool(QCoreApplication::instance());
        created->setMaxThreadCount(16);
        return created;
    }();
    return *pool;
}

// A worker may hold the last reference to a source, which is an object of the store's thread
// and is deleted there. Once the application object is gone, no thread runs events any more.
void deleteSource(JobSource* source)
{
    QCoreApplication* const app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == source->thread()) {
        delete source;
        return;
    }
    QMetaObject::invokeMethod(
        app, [owned = std::shared_ptr<JobSource>(source)] {}, Qt::QueuedConnection);
}

bool matches(const Job& job, const StoreSupport::LoweredQuery& query)
{
    return StoreSupport::containsLowered(job.identity.label, query) ||
           StoreSupport::containsLowered(job.name, query) ||
           (job.program && StoreSupport::containsLowered(*job.program, query));
}

} // namespace

struct JobsStore::Slot {
    std::shared_ptr<JobSource> source;
    // The rows of the last listing that went well.
    QList<Job> rows;
    bool present = false;
    bool listing = false;
    // The listing under way was asked for by the user, who is shown that it runs.
    bool asked = false;
    // Whether to list once more when the listing under way ends, and whether the user asked.
    bool again = false;
    bool askedAgain = false;
    // The reason this source put in lastError, while it keeps failing.
    std::optional<QString> error;
    QTimer changes;
    QTimer nextRunPassed;
};

JobsStore::JobsStore(QObject* parent) : JobsStore(JobSources::standard(), parent) {}

JobsStore::JobsStore(JobSources::Sources sources, QObject* parent)
    : QObject(parent), m_mailbox(std::make_shared<StoreSupport::Mailbox>())
{
    m_mailbox->receiver = this;
    for (std::unique_ptr<JobSource>& source : sources) {
        const std::size_t index = m_slots.size();
        auto slot = std::make_unique<Slot>();
        slot->source = std::shared_ptr<JobSource>(source.release(), deleteSource);
        slot->changes.setSingleShot(true);
        slot->changes.setInterval(changeDelayMs);
        connect(&slot->changes, &QTimer::timeout, this, [this, index] { request(index, false); });
        slot->nextRunPassed.setSingleShot(true);
        connect(&slot->nextRunPassed, &QTimer::timeout, this,
                [this, index] { request(index, false); });
        // Many signals in a row make one listing.
        connect(slot->source.get(), &JobSource::changed, this, [this, index] {
            QTimer& changes = m_slots[index]->changes;
            if (!changes.isActive())
                changes.start();
        });
        m_slots.push_back(std::move(slot));
    }
}

JobsStore::~JobsStore()
{
    StoreSupport::close(*m_mailbox);
    for (const std::unique_ptr<Slot>& slot : m_slots)
        slot->source->disconnect(this);
}

const QList<Job>& JobsStore::jobs() const
{
    return m_jobs;
}

void JobsStore::setJobs(const QList<Job>& jobs)
{
    if (m_jobs == jobs)
        return;
    m_jobs = jobs;
    emit jobsChanged();
}

bool JobsStore::isLoading() const
{
    return m_isLoading;
}

void JobsStore::setIsLoading(bool isLoading)
{
    if (m_isLoading == isLoading)
        return;
    m_isLoading = isLoading;
    emit isLoadingChanged();
}

std::optional<QString> JobsStore::lastError() const
{
    return m_lastError;
}

void JobsStore::setLastError(const std::optional<QString>& error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    emit lastErrorChanged();
}

QString JobsStore::filter() const
{
    return m_filter;
}

void JobsStore::setFilter(const QString& filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    emit filterChanged();
}

bool JobsStore::hideSystemJobs() const
{
    return m_hideSystemJobs;
}

void JobsStore::setHideSystemJobs(bool hide)
{
    if (m_hideSystemJobs == hide)
        return;
    m_hideSystemJobs = hide;
    emit hideSystemJobsChanged();
}

bool JobsStore::runningOnly() const
{
    return m_runningOnly;
}

void JobsStore::setRunningOnly(bool runningOnly)
{
    if (m_runningOnly == runningOnly)
        return;
    m_runningOnly = runningOnly;
    emit runningOnlyChanged();
}

QList<Job> JobsStore::filtered() const
{
    const StoreSupport::LoweredQuery query(m_filter);
    QList<Job> result;
    for (const Job& job : m_jobs) {
        if (!job.schedule)
            continue;
        if (m_hideSystemJobs && job.shippedWithSystem)
            continue;
        if (m_runningOnly && !job.pid)
            continue;
        if (!m_filter.isEmpty() && !matches(job, query))
            continue;
        result.append(job);
    }
    return result;
}

QList<JobSourceKind> JobsStore::presentSources() const
{
    return m_presentSources;
}

std::optional<JobAction> JobsStore::runningAction(const JobIdentity& job) const
{
    const auto found = m_running.constFind(job);
    if (found == m_running.constEnd())
        return std::nullopt;
    return *found;
}

void JobsStore::refresh()
{
    for (std::size_t index = 0; index < m_slots.size(); ++index)
        request(index, true);
}

bool JobsStore::poll()
{
    bool started = false;
    for (std::size_t index = 0; index < m_slots.size(); ++index) {
        const Slot& slot = *m_slots[index];
        if (slot.source->needsPolling() && !slot.listing) {
            startListing(index, false);
            started = true;
        }
    }
    return started;
}

void JobsStore::request(std::size_t index, bool asked)
{
    if (asked)
        setIsLoading(true);
    Slot& slot = *m_slots[index];
    if (slot.listing) {
        slot.again = true;
        slot.askedAgain = slot.askedAgain || asked;
        return;
    }
    startListing(index, asked);
}

void JobsStore::startListing(std::size_t index, bool asked)
{
    Slot& slot = *m_slots[index];
    slot.listing = true;
    slot.asked = asked;
    StoreSupport::runInBackground(
        jobsPool(), m_mailbox, [source = slot.source] { return source->list(); },
        [this, index](const JobSource::Listing& listing) { finishListing(index, listing); });
}

void JobsStore::finishListing(std::size_t index, const JobSource::Listing& listing)
{
    Slot& slot = *m_slots[index];
    const bool asked = slot.asked;
    slot.listing = false;
    slot.asked = false;

    const std::optional<QString> previousError = std::exchange(slot.error, listing.error);
    slot.present = listing.present;
    if (!listing.present)
        slot.rows.clear();
    else if (!listing.error)
        slot.rows = listing.jobs;
    if (listing.error) {
        // Shown again when the reason is new or the user asked, not at every quiet listing
        // after the user put it away.
        if (asked || listing.error != previousError)
            setLastError(listing.error);
    } else if (previousError && m_lastError == previousError) {
        setLastError(std::nullopt);
    }
    publish();
    listAgainAfterNextRun(slot.nextRunPassed, slot.rows);

    if (slot.again) {
        const bool askedAgain = slot.askedAgain;
        slot.again = slot.askedAgain = false;
        startListing(index, askedAgain);
    }
    const bool loading = std::any_of(m_slots.begin(), m_slots.end(),
                                     [](const std::unique_ptr<Slot>& s) { return s->asked; });
    setIsLoading(loading);
    emit listingEnded();
}

void JobsStore::publish()
{
    QList<Job> jobs;
    QList<JobSourceKind> present;
    for (const std::unique_ptr<Slot>& slot : m_slots) {
        jobs += slot->rows;
        if (slot->present && !present.contains(slot->source->kind()))
            present.append(slot->source->kind());
    }
    if (present != m_presentSources) {
        m_presentSources = present;
        emit presentSourcesChanged();
    }
    setJobs(jobs);
}

void JobsStore::perform(const Job& job, JobAction action)
{
    if (m_running.contains(job.identity))
        return;
    // The source that listed the job.
    const auto owner = std::find_if(m_slots.begin(), m_slots.end(), [&](const auto& slot) {
        return std::any_of(slot->rows.begin(), slot->rows.end(),
                           [&](const Job& row) { return row.identity == job.identity; });
    });
    if (owner == m_slots.end())
        return;
    m_running.insert(job.identity, action);
    emit runningActionsChanged();
    StoreSupport::runInBackground(
        jobsPool(), m_mailbox,
        [source = (*owner)->source, job, action] { return source->perform(job, action); },
        [this, identity = job.identity](const JobSource::ActionResult& result) {
            finishAction(identity, result);
        });
}

void JobsStore::finishAction(const JobIdentity& job, const JobSource::ActionResult& result)
{
    m_running.remove(job);
    emit runningActionsChanged();
    if (!result.success) {
        setLastError(u'[' + SafeText::visible(job.label) + QStringLiteral("] ") + result.message);
        return;
    }
    setLastError(std::nullopt);
    refresh();
}

#pragma once

#include "Job.h"
#include "JobSource.h"
#include "JobSources.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace StoreSupport {
struct Mailbox;
} // namespace StoreSupport

// The observable state behind the scheduled-jobs screen, over every job source. Fields have a
// getter, a setter and a signal, and a setter notifies only when the value changes.
//
// refresh() lists all sources side by side on worker threads; each source's result is
// published on the store's thread as it arrives, and `isLoading` stays true until every source
// has answered. A source lists once at a time: asked again while it lists, it lists once more
// when it ends. A source that is absent adds no rows; one that fails keeps its last rows and
// puts its reason in `lastError`, which its next good listing takes back out. When a source says
// that something changed, or when the next run of one of its rows has come, it is listed again
// shortly after, without `isLoading`; one that cannot say that something changed is listed again,
// also without `isLoading`, when the screen polls.
//
// perform() runs an action on a worker; meanwhile runningAction() names it for its job. A failure
// puts "[label] " and the reason in `lastError`; a success clears `lastError` and refreshes.
class JobsStore : public QObject {
    Q_OBJECT

public:
    // The sources of this system.
    explicit JobsStore(QObject* parent = nullptr);
    // These sources, whose rows are shown in this order.
    explicit JobsStore(JobSources::Sources sources, QObject* parent = nullptr);
    ~JobsStore() override;

    // Every source's rows, source after source.
    const QList<Job>& jobs() const;
    void setJobs(const QList<Job>& jobs);
    bool isLoading() const;
    void setIsLoading(bool isLoading);
    std::optional<QString> lastError() const;
    void setLastError(const std::optional<QString>& error);
    QString filter() const;
    void setFilter(const QString& filter);
    // Hides what the operating system itself ships. On at start.
    bool hideSystemJobs() const;
    void setHideSystemJobs(bool hide);
    bool runningOnly() const;
    void setRunningOnly(bool runningOnly);

    // The jobs to show: scheduled ones only, then the system, running and text filters.
    QList<Job> filtered() const;
    // The kinds of the sources that were there at their last listing, in order, each once.
    QList<JobSourceKind> presentSources() const;
    // The action now running on a job, if one is.
    std::optional<JobAction> runningAction(const JobIdentity& job) const;

    // Lists every source again in the background; returns at once.
    void refresh();
    // Lists again, without `isLoading`, each source that needs polling and is not listing now;
    // returns at once, saying whether it started a listing. listingEnded() follows each.
    bool poll();
    // Runs the action in the background; returns at once. Ignored while the job has one running.
    void perform(const Job& job, JobAction action);

signals:
    void jobsChanged();
    void isLoadingChanged();
    void lastErrorChanged();
    void filterChanged();
    void hideSystemJobsChanged();
    void runningOnlyChanged();
    void presentSourcesChanged();
    void runningActionsChanged();
    // A source's listing has ended, whoever asked for it, and its rows are published.
    void listingEnded();

private:
    struct Slot;

    std::vector<std::unique_ptr<Slot>> m_slots;
    QList<Job> m_jobs;
    bool m_isLoading = false;
    std::optional<QString> m_lastError;
    QString m_filter;
    bool m_hideSystemJobs = true;
    bool m_runningOnly = false;
    QList<JobSourceKind> m_presentSources;
    QHash<JobIdentity, JobAction> m_running;
    std::shared_ptr<StoreSupport::Mailbox> m_mailbox;

    void request(std::size_t index, bool asked);
    void startListing(std::size_t index, bool asked);
    void finishListing(std::size_t index, const JobSource::Listing& listing);
    void publish();
    void finishAction(const JobIdentity& job, const JobSource::ActionResult& result);
};

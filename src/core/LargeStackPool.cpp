#include "LargeStackPool.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include <pthread.h>

namespace LargeStackPool {

namespace {

constexpr auto idleLifetime = std::chrono::seconds(30);

// One call's work. Each worker that takes a turn at it pulls items until none is left, then
// checks out; the caller waits until every turn it handed out has checked out.
struct Batch {
    Batch(qsizetype itemCount, const std::function<void(qsizetype)>& itemWork)
        : count(itemCount), work(itemWork)
    {
    }

    void drain()
    {
        for (qsizetype i = next++; i < count; i = next++)
            work(i);
    }

    const qsizetype count;
    const std::function<void(qsizetype)>& work;
    std::atomic<qsizetype> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    int turnsOut = 0;
};

class Workers {
public:
    static Workers& instance()
    {
        // Never destroyed: an idle worker may still be waiting on it while the program exits.
        static Workers* const workers = new Workers;
        return *workers;
    }

    // Hands out `turns` turns at the batch, starting workers up to that many. Returns false, with
    // nothing handed out, when there is no worker at all.
    bool post(Batch& batch, int turns)
    {
        const std::lock_guard lock(mutex_);
        while (threads_ < turns && startWorker())
            ++threads_;
        if (threads_ == 0)
            return false;
        batch.turnsOut = turns;
        for (int i = 0; i < turns; ++i)
            queue_.push_back(&batch);
        wake_.notify_all();
        return true;
    }

private:
    Workers() = default;

    // Called with mutex_ held.
    bool startWorker()
    {
        pthread_attr_t attributes;
        if (::pthread_attr_init(&attributes) != 0)
            return false;
        pthread_t thread;
        const bool started =
            ::pthread_attr_setstacksize(&attributes, stackSize) == 0 &&
            ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
            ::pthread_create(&thread, &attributes, &Workers::loop, this) == 0;
        ::pthread_attr_destroy(&attributes);
        return started;
    }

    static void* loop(void* argument)
    {
        Workers& self = *static_cast<Workers*>(argument);
        std::unique_lock lock(self.mutex_);
        for (;;) {
            if (!self.wake_.wait_for(lock, idleLifetime, [&] { return !self.queue_.empty(); })) {
                --self.threads_;
                return nullptr;
            }
            Batch& batch = *self.queue_.front();
            self.queue_.pop_front();
            lock.unlock();

            batch.drain();
            {
                // The caller may return, and the batch vanish, as soon as this lock is released.
                const std::lock_guard done(batch.mutex);
                if (--batch.turnsOut == 0)
                    batch.finished.notify_one();
            }
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Batch*> queue_;
    int threads_ = 0;
};

} // namespace

void run(qsizetype count, const std::function<void(qsizetype)>& work)
{
    if (count <= 0)
        return;
    Batch batch(count, work);
    const int turns =
        static_cast<int>(std::min<qsizetype>(std::clamp(QThread::idealThreadCount(), 1, 8), count));
    if (!Workers::instance().post(batch, turns)) {
        batch.drain();
        return;
    }
    std::unique_lock lock(batch.mutex);
    batch.finished.wait(lock, [&] { return batch.turnsOut == 0; });
}

} // namespace LargeStackPool

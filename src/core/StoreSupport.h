#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringView>
#include <QThreadPool>

#include <memory>
#include <mutex>
#include <utility>

// How the stores run a scan off the main thread and hand its result back to the store's thread.
namespace StoreSupport {

struct Mailbox {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

// Runs `work` on the pool (the global one unless named), then queues `deliver(result)` on the
// receiver's thread. When the receiver is gone by then, the result is dropped. A receiver deleted
// after the call was queued takes the queued call with it, so `deliver` only ever runs against a
// live receiver. QCoreApplication waits for the global pool when it ends, so no task outlives the
// program's event machinery; the same holds for slowCallsPool().
template <typename Work, typename Deliver>
void runInBackground(QThreadPool& pool, const std::shared_ptr<Mailbox>& mailbox, Work work,
                     Deliver deliver)
{
    pool.start([mailbox, work = std::move(work), deliver = std::move(deliver)]() {
        auto result = work();
        std::lock_guard lock(mailbox->mutex);
        if (!mailbox->receiver)
            return;
        QMetaObject::invokeMethod(
            mailbox->receiver, [deliver, result = std::move(result)]() { deliver(result); },
            Qt::QueuedConnection);
    });
}

template <typename Work, typename Deliver>
void runInBackground(const std::shared_ptr<Mailbox>& mailbox, Work work, Deliver deliver)
{
    runInBackground(*QThreadPool::globalInstance(), mailbox, std::move(work), std::move(deliver));
}

// A pool for calls that may block for long (a container engine stopping a container), so that
// they never hold up the scans on the global pool. It belongs to the application object, which
// waits for it when it ends. Called on the application's thread.
inline QThreadPool& slowCallsPool()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(8);
    }
    return *pool;
}

// A search query, lower-cased once.
struct LoweredQuery {
    explicit LoweredQuery(const QString& text) : lowered(text.toLower())
    {
        for (QChar c : lowered)
            ascii = ascii && c.unicode() < 0x80;
    }

    QString lowered;
    bool ascii = true;
};

// Whether the query occurs in `text` lower-cased with QString::toLower. An ASCII text is compared
// in place, which gives the same answer without a copy; any other text is lower-cased in full,
// because full lower-casing may change its length (U+0130 becomes two characters).
inline bool containsLowered(QStringView text, const LoweredQuery& query)
{
    bool textIsAscii = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x80) {
            textIsAscii = false;
            break;
        }
    }
    if (!textIsAscii)
        return text.toString().toLower().contains(query.lowered);
    // The lower case of an ASCII text is ASCII, so it cannot hold any other character.
    if (!query.ascii)
        return false;

    const qsizetype n = text.size();
    const qsizetype m = query.lowered.size();
    const QChar* t = text.data();
    const QChar* q = query.lowered.constData();
    for (qsizetype i = 0; i + m <= n; ++i) {
        qsizetype j = 0;
        while (j < m) {
            char16_t c = t[i + j].unicode();
            if (c >= u'A' && c <= u'Z')
                c = c - u'A' + u'a';
            if (c != q[j].unicode())
                break;
            ++j;
        }
        if (j == m)
            return true;
    }
    return false;
}

// Called first thing in the receiver's destructor.
inline void close(Mailbox& mailbox)
{
    std::lock_guard lock(mailbox.mutex);
    mailbox.receiver = nullptr;
}

} // namespace StoreSupport

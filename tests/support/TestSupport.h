#pragma once

#include "Printing.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <mutex>

// The temporary configuration folder this test program uses in place of the user's own.
QString testConfigHome();

struct HelperRun {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

// Runs the helper program to its end with these arguments and this configuration folder, in
// this program's environment with `variables` added.
HelperRun runHelper(const QStringList& arguments, const QString& configHome = testConfigHome(),
                    const QProcessEnvironment& variables = {});

// Waits until a store's background work has published.
template <class Store> bool waitUntilIdle(const Store& store)
{
    return QTest::qWaitFor([&] { return !store.isLoading(); }, 60000);
}

// Lets every finished scan deliver its result, so that a dropped result has had its chance.
void settleBackgroundWork();

// Lets two held-back scans run side by side even where the pool has a single thread.
void allowOverlappingScans();

// Forgets how the window and the screens were left (the view state, in memory and on disk), so
// that a test starts with their defaults whatever ran before it.
void forgetViewState();

// Receives what would go to the desktop's default application, once made the handler of a scheme
// with QDesktopServices::setUrlHandler(scheme, &opener, "open").
class Opener : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// The process exists and has not ended (a zombie has ended).
bool processAlive(qint32 pid);

// Waits until the process runs /bin/sleep (a child spawned a moment ago may not yet).
bool runsSleep(qint32 pid);

// A /bin/sleep child of the test, holding a copy of `fd` as its descriptor 9 when given one and
// started in `directory` when given one; with Term::ignored it outlasts SIGTERM. Killed and
// reaped at the end of its scope unless it has ended before.
struct Sleeper {
    enum class Term { ends, ignored };
    explicit Sleeper(int fd = -1, Term term = Term::ends, const QByteArray& directory = {});
    ~Sleeper() { end(); }
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;

    // True once it has ended (it is reaped then, and `signal` says what ended it).
    bool ended();
    // Kills and reaps it now.
    void end();

    qint32 pid = -1;
    int signal = 0;

private:
    bool m_reaped = false;
};

// A gate that a background scan waits at until the test opens it.
class Gate {
public:
    void open();
    void wait();

private:
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};

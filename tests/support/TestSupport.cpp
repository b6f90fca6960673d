#include "TestSupport.h"

#include "ViewState.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QThreadPool>

#include <QTemporaryDir>

#include <algorithm>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Set before main() so that no settings of the user running the tests are ever read or written.
struct ConfigHome {
    ConfigHome() { qputenv("XDG_CONFIG_HOME", dir.path().toUtf8()); }
    QTemporaryDir dir;
};

ConfigHome& configHome()
{
    static ConfigHome home;
    return home;
}

[[maybe_unused]] const bool configHomeSet = !configHome().dir.path().isEmpty();

} // namespace

QString testConfigHome()
{
    return configHome().dir.path();
}

HelperRun runHelper(const QStringList& arguments, const QString& home,
                    const QProcessEnvironment& variables)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(variables);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(STORES_HELPER), arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), process.exitStatus() == QProcess::CrashExit,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void allowOverlappingScans()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(std::max(4, pool->maxThreadCount()));
}

void settleBackgroundWork()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

void forgetViewState()
{
    ViewState::shared().flush();
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrow"),
                       QStringLiteral("Kestrow"));
    for (const char* group : {"window", "ports", "jobs"})
        settings.remove(QLatin1String(group));
    settings.sync();
}

void Gate::open()
{
    std::lock_guard lock(m_mutex);
    m_open = true;
    m_opened.notify_all();
}

void Gate::wait()
{
    std::unique_lock lock(m_mutex);
    m_opened.wait(lock, [this] { return m_open; });
}

bool processAlive(qint32 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // The state follows the command in parentheses.
    const QByteArray line = stat.readAll();
    return !line.mid(line.lastIndexOf(')') + 2, 1).startsWith('Z');
}

Sleeper::Sleeper(int fd, Term term, const QByteArray& directory)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
    if (fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, fd, 9); // the copy is not close-on-exec
    char sleep[] = "/bin/sleep", seconds[] = "120";
    char* plain[] = {sleep, seconds, nullptr};
    // An ignored signal stays ignored across exec.
    char shell[] = "/bin/sh", command[] = "-c", script[] = "trap '' TERM; exec /bin/sleep 120";
    char* ignoring[] = {shell, command, script, nullptr};
    pid_t spawned = -1;
    const bool ends = term == Term::ends;
    if (posix_spawn(&spawned, ends ? sleep : shell, &actions, nullptr, ends ? plain : ignoring,
                    environ) == 0)
        pid = spawned;
    posix_spawn_file_actions_destroy(&actions);
}

bool Sleeper::ended()
{
    int status = 0;
    if (!m_reaped && pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
        m_reaped = true;
        signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return m_reaped;
}

bool runsSleep(qint32 pid)
{
    return QTest::qWaitFor([&] {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        return comm.open(QIODevice::ReadOnly) && comm.readAll() == "sleep\n";
    });
}

void Sleeper::end()
{
    if (pid > 0 && !m_reaped) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        m_reaped = true;
    }
}

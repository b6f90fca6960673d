#include "SystemdSandbox.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString systemdBinary = QStringLiteral("/lib/systemd/systemd");
const QString unshareBinary = QStringLiteral("/usr/bin/unshare");
const QString nsenterBinary = QStringLiteral("/usr/bin/nsenter");

// The cgroup2 hierarchy: the whole of /sys/fs/cgroup on a unified machine, else its "unified" part.
std::optional<QString> cgroup2Root()
{
    for (const QString& root :
         {QStringLiteral("/sys/fs/cgroup"), QStringLiteral("/sys/fs/cgroup/unified")}) {
        if (QFileInfo::exists(root + QStringLiteral("/cgroup.controllers")))
            return root;
    }
    return std::nullopt;
}

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// The cgroup2 line of /proc/<pid>/cgroup ("0::/path"), path only.
QString cgroupOf(const QString& pid)
{
    for (const QString& line : readText(QStringLiteral("/proc/%1/cgroup").arg(pid)).split(u'\n')) {
        if (line.startsWith(QStringLiteral("0::")))
            return line.mid(3);
    }
    return {};
}

qint32 parentOf(qint32 pid)
{
    // /proc/PID/stat: "pid (comm) state ppid ...", where comm may hold spaces and parentheses.
    const QString stat = readText(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(u')');
    if (close < 0)
        return 0;
    const QStringList fields = stat.mid(close + 2).split(u' ');
    return fields.size() > 1 ? fields.at(1).toInt() : 0;
}

// Every process in a cgroup subtree.
QList<qint32> processesIn(const QString& directory)
{
    QList<qint32> pids;
    QStringList files{directory + QStringLiteral("/cgroup.procs")};
    QDirIterator it(directory, {QStringLiteral("cgroup.procs")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file != files.first())
            files.append(file);
    }
    for (const QString& file : files) {
        for (const QString& line : readText(file).split(u'\n', Qt::SkipEmptyParts))
            pids.append(line.toInt());
    }
    return pids;
}

bool isPopulated(const QString& directory)
{
    return readText(directory + QStringLiteral("/cgroup.events"))
        .contains(QStringLiteral("populated 1"));
}

// Removes a cgroup subtree, deepest folders first (cgroup folders are removed with rmdir).
void removeCgroup(const QString& directory)
{
    QStringList folders;
    QDirIterator it(directory, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders.append(it.next());
    std::sort(folders.begin(), folders.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& folder : folders)
        ::rmdir(QFile::encodeName(folder).constData());
    ::rmdir(QFile::encodeName(directory).constData());
}

std::atomic<int> sandboxCount{0};

const QString subtreePrefix = QStringLiteral("kestrow-test-");

// Kills what is left in a subtree and removes it.
void clearSubtree(const QString& directory)
{
    writeText(directory + QStringLiteral("/cgroup.kill"), "1");
    QDeadlineTimer deadline(5000);
    while (isPopulated(directory) && !deadline.hasExpired())
        QThread::msleep(20);
    removeCgroup(directory);
}

// Subtrees of earlier test programs that died before they could stop their manager: named after
// a test process that no longer exists. Their managers died with those programs (parent-death
// signal); whatever the managers had started is still in there.
void clearAbandonedSubtrees(const QString& cgroupRoot)
{
    const QStringList names =
        QDir(cgroupRoot).entryList({subtreePrefix + QLatin1Char('*')}, QDir::Dirs);
    for (const QString& name : names) {
        const QString owner = name.mid(subtreePrefix.size()).section(u'-', 0, 0);
        bool numeric = false;
        owner.toInt(&numeric);
        if (numeric && !QFileInfo::exists(QStringLiteral("/proc/") + owner))
            clearSubtree(cgroupRoot + QLatin1Char('/') + name);
    }
}

} // namespace

std::optional<QString> SystemdSandbox::unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("starting a systemd manager in its own cgroup needs root");
    if (!cgroup2Root())
        return QStringLiteral("no cgroup2 hierarchy under /sys/fs/cgroup");
    for (const QString& tool : {systemdBinary, unshareBinary, nsenterBinary}) {
        if (!QFileInfo(tool).isExecutable())
            return tool + QStringLiteral(" is missing");
    }
    return std::nullopt;
}

SystemdSandbox::SystemdSandbox()
{
    if (const auto reason = unavailableReason()) {
        m_error = *reason;
        return;
    }
    const int serial = ++sandboxCount;
    m_cgroupRoot = *cgroup2Root();
    clearAbandonedSubtrees(m_cgroupRoot);
    m_cgroup =
        QLatin1Char('/') + subtreePrefix + QStringLiteral("%1-%2").arg(::getpid()).arg(serial);
    m_ownCgroupBefore = cgroupOf(QStringLiteral("self"));
    m_connectionName = QStringLiteral("kestrow-sandbox-%1").arg(serial);

    QByteArray base = QDir::tempPath().toUtf8() + "/kestrow-systemd-XXXXXX";
    if (!::mkdtemp(base.data())) {
        m_error = QStringLiteral("cannot make a temporary folder");
        return;
    }
    m_base = QString::fromUtf8(base);
    m_runtime = m_base + QStringLiteral("/run");
    const QString hiddenRunSystemd = m_base + QStringLiteral("/run-systemd");
    QDir().mkpath(m_runtime);
    QFile::setPermissions(m_runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(hiddenRunSystemd + QStringLiteral("/system"));
    QDir().mkpath(unitDirectory());

    const QString cgroupDir = m_cgroupRoot + m_cgroup;
    if (::mkdir(QFile::encodeName(cgroupDir).constData(), 0755) != 0) {
        // Never adopt a subtree that is not ours, not even to remove it.
        m_error = QStringLiteral("cannot make the cgroup ") + cgroupDir;
        m_cgroup.clear();
        return;
    }

    // Everything the child needs is made before fork: after it, only async-signal-safe calls.
    const QByteArray procsFile = QFile::encodeName(cgroupDir + QStringLiteral("/cgroup.procs"));
    const QByteArray logFile = QFile::encodeName(m_base + QStringLiteral("/manager.log"));
    const QByteArray script = "mount -t cgroup2 none /sys/fs/cgroup && "
                              "mount --bind \"$0\" /run/systemd && exec " +
                              systemdBinary.toUtf8() + " --user";
    std::vector<QByteArray> arguments{unshareBinary.toUtf8(),
                                      "--mount",
                                      "--cgroup",
                                      "--propagation",
                                      "private",
                                      "/bin/sh",
                                      "-c",
                                      script,
                                      QFile::encodeName(hiddenRunSystemd)};
    std::vector<QByteArray> environment{
        "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
        "LANG=C.UTF-8",
        "XDG_RUNTIME_DIR=" + QFile::encodeName(m_runtime),
        "HOME=" + QFile::encodeName(m_base + QStringLiteral("/home")),
        "XDG_CONFIG_HOME=" + QFile::encodeName(m_base + QStringLiteral("/home/.config")),
    };
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        m_error = QStringLiteral("fork failed");
        removeCgroup(cgroupDir);
        return;
    }
    if (child == 0) {
        // The manager dies with the test program (with the thread that starts it, in fact: start
        // sandboxes on the main thread), even when that program crashes.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(125);
        // Into the fresh subtree first: the namespace is rooted wherever the launcher is.
        const int procs = ::open(procsFile.constData(), O_WRONLY | O_CLOEXEC);
        if (procs < 0 || ::write(procs, "0", 1) != 1)
            ::_exit(125);
        ::close(procs);
        const int log = ::open(logFile.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (log < 0 || null < 0)
            ::_exit(125);
        ::dup2(null, STDIN_FILENO);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::setsid();
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    m_pid = child;
    m_running = waitUntilReady();
    if (!m_running) {
        m_error = QStringLiteral("the manager did not come up: ") + logTail();
        stop();
    }
}

SystemdSandbox::~SystemdSandbox()
{
    stop();
}

bool SystemdSandbox::waitUntilReady()
{
    const QString socket = m_runtime + QStringLiteral("/bus");
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = 0;
            return false;
        }
        if (QFileInfo::exists(socket)) {
            QDBusConnection connection =
                QDBusConnection::connectToBus(busAddress(), m_connectionName);
            if (connection.isConnected()) {
                const QDBusMessage reply = connection.call(
                    QDBusMessage::createMethodCall(
                        QStringLiteral("org.freedesktop.systemd1"),
                        QStringLiteral("/org/freedesktop/systemd1"),
                        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"))
                    << QStringLiteral("org.freedesktop.systemd1.Manager")
                    << QStringLiteral("SystemState"));
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    const QString value =
                        reply.arguments().constFirst().value<QDBusVariant>().variant().toString();
                    if (value == QStringLiteral("running") || value == QStringLiteral("degraded"))
                        return true;
                }
            } else {
                QDBusConnection::disconnectFromBus(m_connectionName);
            }
        }
        QThread::msleep(50);
    }
    return false;
}

QString SystemdSandbox::logTail() const
{
    const QString log = readText(m_base + QStringLiteral("/manager.log"));
    return log.right(2000);
}

bool SystemdSandbox::isRunning() const
{
    return m_running;
}

QString SystemdSandbox::error() const
{
    return m_error;
}

qint32 SystemdSandbox::managerPid() const
{
    return m_pid;
}

QString SystemdSandbox::busAddress() const
{
    return QStringLiteral("unix:path=") + m_runtime + QStringLiteral("/bus");
}

QDBusConnection SystemdSandbox::bus() const
{
    return QDBusConnection(m_connectionName);
}

QString SystemdSandbox::unitDirectory() const
{
    return m_base + QStringLiteral("/home/.config/systemd/user");
}

QString SystemdSandbox::cgroupPath() const
{
    return m_cgroup;
}

void SystemdSandbox::writeUnit(const QString& name, const QString& contents) const
{
    writeText(unitDirectory() + QLatin1Char('/') + name, contents.toUtf8());
}

ProcessRunner::Result SystemdSandbox::systemctl(const QStringList& arguments) const
{
    QStringList command{QStringLiteral("-t"),
                        QString::number(m_pid),
                        QStringLiteral("-m"),
                        QStringLiteral("-C"),
                        QStringLiteral("/usr/bin/env"),
                        QStringLiteral("XDG_RUNTIME_DIR=") + m_runtime,
                        QStringLiteral("/usr/bin/systemctl"),
                        QStringLiteral("--user")};
    command += arguments;
    return ProcessRunner::run(nsenterBinary, command);
}

bool SystemdSandbox::tookOnlyItsOwnProcesses() const
{
    if (cgroupOf(QStringLiteral("self")) != m_ownCgroupBefore)
        return false;
    for (const qint32 pid : processesIn(m_cgroupRoot + m_cgroup)) {
        qint32 ancestor = pid;
        while (ancestor > 1 && ancestor != m_pid)
            ancestor = parentOf(ancestor);
        if (ancestor != m_pid)
            return false;
    }
    return true;
}

void SystemdSandbox::stop()
{
    QDBusConnection::disconnectFromBus(m_connectionName);
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        QDeadlineTimer deadline(5000);
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0 && !deadline.hasExpired())
            QThread::msleep(20);
        if (::waitpid(m_pid, &status, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = 0;
    }
    m_running = false;
    if (!m_cgroup.isEmpty()) {
        const QString directory = m_cgroupRoot + m_cgroup;
        // What the manager left behind (its bus, services of the tests) is all in its subtree.
        if (QFileInfo::exists(directory))
            clearSubtree(directory);
        m_cgroup.clear();
    }
    if (!m_base.isEmpty()) {
        QDir(m_base).removeRecursively();
        m_base.clear();
    }
}

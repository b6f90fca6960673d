// A child process for the stores tests: runs of the program that keep settings between them,
// a process that listens on a port, a process that ends while scans run, and unprivileged
// processes that terminate processes of their own and of another user, listen, or scan.

#include "AppSettings.h"
#include "PortScanner.h"
#include "ProcessControl.h"
#include "Stores.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTextStream>
#include <QThread>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void print(const QString& text)
{
    QTextStream(stdout) << text << Qt::endl;
}

void printList(const QList<CommonPort>& ports)
{
    for (const CommonPort& entry : ports)
        print(QString::number(entry.port) + QLatin1Char('\t') + entry.note);
}

QList<CommonPort> numbered(int count, const QString& note)
{
    QList<CommonPort> ports;
    for (int i = 1; i <= count; ++i)
        ports.append({i, note + QString::number(i)});
    return ports;
}

bool dropToNobody()
{
    return ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

// A TCP socket listening on an ephemeral loopback port (or the given one); its port, or 0.
int openListener(int fd, quint16 port = 0)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// Listens, prints the port and waits to be ended. As nobody, it also keeps others out of its
// memory, as daemons that change their user often are made to: its /proc folder then belongs to
// root.
int listenUntilEnded(bool asNobody, quint16 port)
{
    if (asNobody && (!dropToNobody() || ::prctl(PR_SET_DUMPABLE, 0) != 0))
        return 2;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int bound = openListener(fd, port);
    if (bound == 0)
        return 1;
    print(QString::number(bound));
    for (;;)
        ::pause();
}

// Scans as nobody, with a listener of its own: prints its pid and port, then one line per record
// ("port protocol pid user command", and the container when there is one), or the scan's error.
int scanAsNobody(int argc, char** argv)
{
    if (!dropToNobody())
        return 2;
    QCoreApplication app(argc, argv);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    print(QStringLiteral("%1 %2").arg(::getpid()).arg(openListener(fd)));
    const PortScanner::ScanResult result = PortScanner::scanResult();
    if (result.error)
        print(*result.error);
    for (const ServicePort& p : result.ports)
        print(QStringLiteral("%1 %2 %3 %4 %5")
                  .arg(p.port)
                  .arg(p.networkProtocol)
                  .arg(p.pid)
                  .arg(p.user, p.command) +
              (p.container ? QLatin1Char(' ') + p.container->displayName() : QString()));
    return 0;
}

pid_t sleeper()
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (;;)
            ::pause();
    }
    return pid;
}

// Drops root, then terminates: its own live child, an exited process, a process of another user
// (argv) and identifier 0, which must not reach this process group.
int killManyUnprivileged(int argc, char** argv)
{
    ::setsid();
    if (!dropToNobody())
        return 2;
    const pid_t live = sleeper();
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);

    QCoreApplication app(argc, argv);
    auto record = [](qint64 port, qint32 pid, const QString& command) {
        ServicePort r;
        r.port = port;
        r.pid = pid;
        r.command = command;
        return r;
    };
    ServicePort exited = record(3001, gone, QStringLiteral("gone"));
    exited.appName = QStringLiteral("旧应用");
    // A record of the live process that another process with its pid would have left.
    ServicePort reused = record(3004, live, QStringLiteral("ev\u202Ename"));
    reused.startTime = 1;
    PortsStore store;
    store.killMany({record(3000, live, QStringLiteral("live")), exited,
                    record(3002, QString::fromLatin1(argv[2]).toInt(), QStringLiteral("foreign")),
                    record(3003, 0, QStringLiteral("zero")), reused},
                   false);
    const bool loading = store.isLoading();
    while (store.isLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    int status = 0;
    ::waitpid(live, &status, 0);
    print(QStringLiteral("loading=%1 live-signal=%2").arg(loading).arg(WTERMSIG(status)));
    print(store.lastError().value_or(QStringLiteral("<none>")));
    return 0;
}

// Ends while two refreshes still scan: one store already gone, one owned by the application.
int exitMidScan(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto slowScan = [] {
        QThread::msleep(300);
        return QList<ServicePort>{ServicePort{}};
    };
    {
        PortsStore gone;
        gone.setScannerForTesting(slowScan);
        gone.refresh();
    }
    auto* owned = new PortsStore(&app);
    owned->setScannerForTesting(slowScan);
    owned->refresh();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    if (mode == QLatin1String("settings-print")) {
        printList(AppSettings::shared().commonPorts());
        return 0;
    }
    if (mode == QLatin1String("settings-add") && argc == 4) {
        AppSettings::shared().add(QString::fromLatin1(argv[2]).toLongLong(),
                                  QString::fromUtf8(argv[3]));
        return 0;
    }
    if (mode == QLatin1String("settings-hammer")) {
        // Alternates between two long lists until killed.
        const QList<CommonPort> lists[] = {numbered(3000, QStringLiteral("a")),
                                           numbered(2000, QStringLiteral("b"))};
        for (int i = 0;; ++i) {
            AppSettings::shared().setCommonPorts(lists[i % 2]);
            if (i == 1)
                print(QStringLiteral("ready"));
        }
    }
    if (mode == QLatin1String("listen"))
        return listenUntilEnded(false, argc > 2 ? QString::fromLatin1(argv[2]).toUShort() : 0);
    if (mode == QLatin1String("listen-as-nobody"))
        return listenUntilEnded(true, 0);
    if (mode == QLatin1String("scan-as-nobody"))
        return scanAsNobody(argc, argv);
    if (mode == QLatin1String("kill-many") && argc == 3)
        return killManyUnprivileged(argc, argv);
    if (mode == QLatin1String("exit-mid-scan"))
        return exitMidScan(argc, argv);
    return 64;
}

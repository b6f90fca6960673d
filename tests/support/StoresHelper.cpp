// A child process for the stores tests: runs of the program that keep settings between them,
// a process that listens on a port, a process that ends while scans run, and an unprivileged
// process that terminates processes of its own and of another user.

#include "AppSettings.h"
#include "ProcessControl.h"
#include "Stores.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTextStream>
#include <QThread>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
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

int listen()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    print(QString::number(ntohs(address.sin_port)));
    for (;;)
        ::pause();
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
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
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
    PortsStore store;
    store.killMany({record(3000, live, QStringLiteral("live")), exited,
                    record(3002, QString::fromLatin1(argv[2]).toInt(), QStringLiteral("foreign")),
                    record(3003, 0, QStringLiteral("zero"))},
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
        return listen();
    if (mode == QLatin1String("kill-many") && argc == 3)
        return killManyUnprivileged(argc, argv);
    if (mode == QLatin1String("exit-mid-scan"))
        return exitMidScan(argc, argv);
    return 64;
}

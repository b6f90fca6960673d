// Renders the window's three screens to PNG files with realistic contents: development servers
// it starts itself (TCP and UDP, each in a project folder), a developer's systemd timers in a
// fenced-in user manager, and a common-ports list with a custom entry.
// Usage: kestrow_screens <output folder>   (run it under an X server, e.g. xvfb-run -a)
#include "AppSettings.h"
#include "JobsView.h"
#include "MainWindow.h"
#include "PortsView.h"
#include "Stores.h"
#include "Symbols.h"
#include "SystemdSandbox.h"
#include "SystemdSource.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
#include <QTableView>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

void writeFile(const QString& path, const QString& contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(contents.toUtf8());
}

struct Listener {
    QString folder;
    QString program;
    QStringList arguments;
};

// A development server started in its project folder; stopped when the object goes.
class Server {
public:
    Server(const Listener& listener)
    {
        QDir().mkpath(listener.folder);
        m_process.setWorkingDirectory(listener.folder);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(listener.program, listener.arguments);
        if (!m_process.waitForStarted(5000))
            err() << "could not start " << listener.program << "\n";
    }
    ~Server()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
};

bool tcpPortOpen(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(200);
}

// A developer's own timers in a fenced-in systemd user manager: their services run tools from a
// private folder that stand in for rsync, pg_dump and a dotfile syncer, so that the rows show
// real runs (one that failed, one that went well, one still running) with realistic lines.
void writeTimers(const SystemdSandbox& sandbox, const QString& root)
{
    const QString tools = root + "/tools";
    writeFile(tools + "/rsync", "#!/bin/sh\nexit 23\n");
    writeFile(tools + "/pg_dump", "#!/bin/sh\nexit 0\n");
    writeFile(tools + "/dotsync", "#!/bin/sh\nexec sleep 600\n");
    for (const char* tool : {"rsync", "pg_dump", "dotsync"})
        QFile::setPermissions(tools + "/" + tool,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString environment = "Environment=PATH=" + tools + ":/usr/bin:/bin\n";
    const QString install = "[Install]\nWantedBy=timers.target\n";
    const auto timer = [&](const QString& name, const QString& description,
                           const QString& triggers) {
        sandbox.writeUnit(
            name + ".timer",
            (description.isEmpty() ? QString() : "[Unit]\nDescription=" + description + "\n") +
                "[Timer]\n" + triggers + install);
    };
    const auto service = [&](const QString& name, const QString& description,
                             const QString& command, bool oneshot = true) {
        sandbox.writeUnit(name + ".service", "[Unit]\nDescription=" + description +
                                                 "\n[Service]\n" +
                                                 (oneshot ? "Type=oneshot\n" : "") + environment +
                                                 "ExecStart=" + command + "\n");
    };
    timer("backup-photos", "Back up the photo library", "OnCalendar=*-*-* 03:15\n");
    service("backup-photos", "Photo backup",
            "/usr/bin/env rsync -a --delete /home/dev/Pictures/ /mnt/backup/Pictures/");
    timer("db-dump", {}, "OnCalendar=*-*-* 09,21:00\n");
    service("db-dump", "Dump the shop database",
            "/usr/bin/env pg_dump -Fc -f /home/dev/backups/shop.dump shop");
    timer("dotsync", "Sync the dotfiles", "OnUnitActiveSec=30min\nOnBootSec=2min\n");
    service("dotsync", "Dotfile sync", "/usr/bin/env dotsync --push \"/home/dev/My Dotfiles\"",
            false);
    timer("weekly-report", {}, "OnCalendar=Mon 10:00\n");
    service("weekly-report", "Weekly report",
            "/bin/sh -c '/home/dev/bin/weekly-report > /home/dev/reports/latest.txt'");
    timer("clean-downloads", "Clean up old downloads", "OnCalendar=*-*-01 00:30\n");
    service("clean-downloads", "Clean up downloads",
            "/usr/bin/find /home/dev/Downloads -mtime +30 -delete");

    sandbox.systemctl({"daemon-reload"});
    sandbox.systemctl({"enable", "--now", "backup-photos.timer", "db-dump.timer", "dotsync.timer",
                       "clean-downloads.timer"});
    sandbox.systemctl({"start", "backup-photos.service", "db-dump.service"});
    sandbox.systemctl({"start", "--no-block", "dotsync.service"});
}

template <typename View> bool waitUntilLoaded(MainWindow& window)
{
    return QTest::qWaitFor(
        [&] {
            auto* view = qobject_cast<View*>(window.screen());
            return view && !view->store().isLoading();
        },
        20000);
}

bool save(MainWindow& window, const QDir& out, const QString& name)
{
    // Let the last layout and paint settle before grabbing.
    QTest::qWait(400);
    const QString path = out.filePath(name);
    if (!window.grab().save(path, "PNG")) {
        err() << "cannot write " << path << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Everything the program reads of the user lives in a throw-away home: the common-ports list
    // (through XDG_CONFIG_HOME) and the project folders shown with "~".
    QTemporaryDir sandbox;
    const QString home = sandbox.path() + "/home/dev";
    QDir().mkpath(home);
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrow"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        err() << "usage: kestrow_screens <output folder>\n";
        return 2;
    }
    const QDir out(args.at(1));
    QDir().mkpath(out.path());
    Symbols::ensureIconTheme();

    const QString projects = home + "/projects";
    std::vector<std::unique_ptr<Server>> servers;
    const QList<Listener> listeners = {
        {projects + "/shop-frontend",
         "/usr/bin/node",
         {"-e", "require('http').createServer((q, s) => s.end('shop')).listen(3000)"}},
        {projects + "/shop-api",
         "/usr/bin/python3",
         {"-m", "http.server", "8000", "--bind", "127.0.0.1"}},
        {projects + "/docs-site",
         "/usr/bin/python3",
         {"-m", "http.server", "4000", "--bind", "::1"}},
        {projects + "/metrics",
         "/usr/bin/python3",
         {"-c", "import socket, time\n"
                "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                "s.bind(('127.0.0.1', 8125))\n"
                "time.sleep(600)\n"}},
    };
    for (const Listener& listener : listeners) {
        if (QFileInfo(listener.program).isExecutable())
            servers.push_back(std::make_unique<Server>(listener));
    }
    if (!QTest::qWaitFor([] { return tcpPortOpen(3000) && tcpPortOpen(8000); }, 5000))
        err() << "the development servers did not come up; the ports screen shows fewer rows\n";
    // The UDP listener and the IPv6 one have no handshake to wait for.
    QTest::qWait(500);

    // The timers' manager is fenced in and needs root; without it the jobs screen stays empty.
    std::unique_ptr<SystemdSandbox> timers;
    if (const auto reason = SystemdSandbox::unavailableReason()) {
        err() << "no systemd user manager for the timers: " << *reason << "\n";
    } else {
        timers = std::make_unique<SystemdSandbox>();
        if (timers->isRunning()) {
            writeTimers(*timers, sandbox.path());
            const QDBusConnection bus = timers->bus();
            JobSources::testing::setFactory([bus] {
                JobSources::Sources sources;
                sources.push_back(std::make_unique<SystemdSource>(JobScope::user, bus));
                return sources;
            });
        } else {
            err() << "the timers' manager did not start: " << timers->error() << "\n";
        }
    }

    AppSettings::shared().add(8125, QStringLiteral("StatsD 指标 (UDP)"));
    AppSettings::shared().add(2222, QString());

    MainWindow window;
    window.resize(1440, 760);
    window.show();

    bool ok = waitUntilLoaded<PortsView>(window) && save(window, out, "ports.png");

    window.select(MainWindow::Tab::jobs);
    ok = ok && waitUntilLoaded<JobsView>(window);
    if (auto* jobs = qobject_cast<JobsView*>(window.screen())) {
        if (auto* table = jobs->findChild<QTableView*>("jobs"))
            table->selectRow(1);
    }
    ok = ok && save(window, out, "jobs.png");

    window.select(MainWindow::Tab::settings);
    ok = ok && save(window, out, "settings.png");

    JobSources::testing::setFactory({});
    return ok ? 0 : 1;
}

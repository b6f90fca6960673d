// Renders the window's three screens to PNG files with realistic contents: development servers
// it starts itself (TCP and UDP, each in a project folder), scheduled jobs from definition files
// and a launchctl stand-in, and a common-ports list with a custom entry.
// Usage: kestrow_screens <output folder>   (run it under an X server, e.g. xvfb-run -a)
#include "AppSettings.h"
#include "LaunchdView.h"
#include "MainWindow.h"
#include "PortsView.h"
#include "Stores.h"
#include "Symbols.h"
#include "platform/Platform.h"

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

QString plist(const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\"><dict>\n%1\n</dict></plist>\n")
        .arg(body);
}

QString programArguments(const QStringList& arguments)
{
    QString items;
    for (const QString& argument : arguments)
        items += QStringLiteral("<string>%1</string>").arg(argument.toHtmlEscaped());
    return QStringLiteral("<key>ProgramArguments</key><array>%1</array>").arg(items);
}

QString daily(int hour, int minute)
{
    return QStringLiteral("<key>StartCalendarInterval</key><dict><key>Hour</key><integer>%1"
                          "</integer><key>Minute</key><integer>%2</integer></dict>")
        .arg(hour)
        .arg(minute);
}

QString every(int seconds)
{
    return QStringLiteral("<key>StartInterval</key><integer>%1</integer>").arg(seconds);
}

QString label(const QString& text)
{
    return QStringLiteral("<key>Label</key><string>%1</string>").arg(text);
}

// Definition files in the five launchd folders under `root`, and a launchctl stand-in that
// lists them as loaded (two of them running as `runningPids`).
void writeJobs(const QString& root, const QString& home, const QList<qint64>& runningPids)
{
    // The programs name a typical developer's paths rather than the throw-away home.
    const QString user = QStringLiteral("/home/dev");
    const QStringList folders = {home + "/Library/LaunchAgents", root + "/Library/LaunchAgents",
                                 root + "/Library/LaunchDaemons",
                                 root + "/System/Library/LaunchAgents",
                                 root + "/System/Library/LaunchDaemons"};
    const QString agents = folders.at(0);
    writeFile(agents + "/com.example.photos-sync.plist",
              plist(label("com.example.photos-sync") +
                    programArguments({"/usr/bin/rsync", "-a", "--delete", user + "/Pictures/",
                                      "/Volumes/Backup/Pictures/"}) +
                    daily(3, 15)));
    writeFile(agents + "/org.dev.db-dump.plist",
              plist(label("org.dev.db-dump") +
                    programArguments({"/usr/local/bin/pg_dump", "-Fc", "-f",
                                      user + "/backups/shop.dump", "shop"}) +
                    QStringLiteral("<key>StartCalendarInterval</key><array>"
                                   "<dict><key>Hour</key><integer>9</integer></dict>"
                                   "<dict><key>Hour</key><integer>21</integer></dict></array>")));
    writeFile(agents + "/io.github.notes-indexer.plist",
              plist(label("io.github.notes-indexer") +
                    programArguments(
                        {"/usr/local/bin/notes-indexer", "--watch", user + "/Documents/notes"}) +
                    every(300)));
    writeFile(agents + "/local.weekly-report.plist",
              plist(label("local.weekly_report") +
                    programArguments({"/bin/sh", "-c", user + "/bin/weekly-report.sh"}) +
                    QStringLiteral("<key>StartCalendarInterval</key><dict><key>Weekday</key>"
                                   "<integer>1</integer><key>Hour</key><integer>10</integer>"
                                   "<key>Minute</key><integer>0</integer></dict>")));
    writeFile(agents + "/com.acme.updater.plist",
              plist(label("com.acme.updater") +
                    QStringLiteral("<key>Program</key><string>/Library/Application Support/"
                                   "Acme/updater</string>") +
                    every(7200)));
    writeFile(folders.at(2) + "/com.example.log-rotate.plist",
              plist(label("com.example.log-rotate") +
                    programArguments({"/usr/sbin/newsyslog", "-v"}) +
                    QStringLiteral("<key>StartCalendarInterval</key><dict><key>Day</key>"
                                   "<integer>1</integer><key>Hour</key><integer>0</integer>"
                                   "<key>Minute</key><integer>30</integer></dict>")));
    writeFile(folders.at(4) + "/com.apple.periodic-daily.plist",
              plist(label("com.apple.periodic-daily") +
                    programArguments({"/usr/libexec/periodic-wrapper", "daily"}) + every(86400)));
    writeFile(agents + "/com.example.menubar.plist",
              plist(label("com.example.menubar") +
                    programArguments({"/Applications/Menubar.app/Contents/MacOS/Menubar"})));

    const QString pid0 = runningPids.value(0) ? QString::number(runningPids.value(0)) : "-";
    const QString pid1 = runningPids.value(1) ? QString::number(runningPids.value(1)) : "-";
    const QString table = QStringLiteral("PID\tStatus\tLabel\n"
                                         "%1\t0\tcom.example.photos-sync\n"
                                         "-\t0\torg.dev.db-dump\n"
                                         "%2\t0\tio.github.notes-indexer\n"
                                         "-\t1\tlocal.weekly_report\n"
                                         "-\t0\tcom.acme.updater\n"
                                         "-\t-15\tcom.example.log-rotate\n"
                                         "-\t0\tcom.apple.periodic-daily\n"
                                         "812\t0\tcom.example.menubar\n")
                              .arg(pid0, pid1);
    writeFile(root + "/launchctl-table.txt", table);
    const QString script = root + "/launchctl";
    writeFile(script, QStringLiteral("#!/bin/sh\n"
                                     "if [ \"$1\" = list ]; then cat '%1'; fi\n"
                                     "exit 0\n")
                          .arg(root + "/launchctl-table.txt"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    Platform::testing::setLaunchctlPath(script);
    Platform::testing::setLaunchdFolders(folders);
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

    QList<qint64> runningPids;
    for (const auto& server : servers)
        runningPids << server->pid();
    writeJobs(sandbox.path(), home, runningPids);

    AppSettings::shared().add(8125, QStringLiteral("StatsD 指标 (UDP)"));
    AppSettings::shared().add(2222, QString());

    MainWindow window;
    window.resize(1440, 760);
    window.show();

    bool ok = waitUntilLoaded<PortsView>(window) && save(window, out, "ports.png");

    window.select(MainWindow::Tab::launchd);
    ok = ok && waitUntilLoaded<LaunchdView>(window);
    if (auto* jobs = qobject_cast<LaunchdView*>(window.screen())) {
        if (auto* table = jobs->findChild<QTableView*>("jobs"))
            table->selectRow(1);
    }
    ok = ok && save(window, out, "jobs.png");

    window.select(MainWindow::Tab::settings);
    ok = ok && save(window, out, "settings.png");

    Platform::testing::setLaunchctlPath(std::nullopt);
    Platform::testing::setLaunchdFolders(std::nullopt);
    return ok ? 0 : 1;
}

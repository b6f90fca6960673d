#include "PortScannerParsing.h"
#include "Printing.h"
#include "platform/Platform.h"
#include "platform/RunningAppsLinuxParsing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Platform::detail;

namespace {

bool writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

const QString userSlice =
    QStringLiteral("/user.slice/user-1000.slice/user@1000.service/app.slice/");

// A /proc-shaped folder: each process gets a cgroup file (unified hierarchy) and a stat line.
class FakeProc {
public:
    explicit FakeProc(const QString& root) : root_(root) {}
    void add(qint32 pid, qint32 parent, const QString& cgroup, const QByteArray& command = "x")
    {
        const QString folder = root_ + QLatin1Char('/') + QString::number(pid);
        writeFile(folder + QStringLiteral("/cgroup"), "0::" + cgroup.toUtf8() + "\n");
        writeFile(folder + QStringLiteral("/stat"), QByteArray::number(pid) + " (" + command +
                                                        ") S " + QByteArray::number(parent) +
                                                        " 1 1 0 -1\n");
    }

private:
    QString root_;
};

class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        if (had_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray saved_;
};

} // namespace

TEST(RunningApps, ApplicationUnitNamesGiveDesktopIds)
{
    const std::vector<std::pair<const char16_t*, std::optional<QString>>> cases{
        {u"app-org.gnome.Terminal.slice", "org.gnome.Terminal"},
        {u"app-gnome-org.gnome.Nautilus-4521.scope", "org.gnome.Nautilus"},
        {u"app-org.mozilla.firefox-a1b2c3.scope", "org.mozilla.firefox"},
        {u"app-flatpak-com.example.Tool-90.scope", "com.example.Tool"},
        {u"app-gnome-firefox\\x2desr-77.scope", "firefox-esr"},
        {u"app-kde-org.kde.konsole@3f2a.service", "org.kde.konsole"},
        {u"app-org.example.Daemon.service", "org.example.Daemon"},
        {u"app-gnome-中文应用-5.scope", QStringLiteral("中文应用")},
        {u"app.slice", std::nullopt},
        {u"app-.slice", std::nullopt},
        {u"app-gnome-.slice", std::nullopt},
        {u"app-nodash.scope", std::nullopt},          // a scope always ends in -N
        {u"app-a-b-c-1.scope", std::nullopt},         // an unescaped dash inside the ID
        {u"app-gnome-..-1.scope", std::nullopt},      // would climb out of the folder
        {u"app-gnome-a\\x2fb-1.scope", std::nullopt}, // an escaped slash
        {u"session-2.scope", std::nullopt},
        {u"vte-spawn-0e7c.scope", std::nullopt},
    };
    for (const auto& [unit, id] : cases) {
        const QString name = QString::fromUtf16(unit);
        EXPECT_EQ(desktopIdOfUnit(name), id) << name.toStdString();
    }

    // The innermost unit of the path counts, on the unified hierarchy before the systemd one.
    const QString file = QStringLiteral("12:pids:/user.slice\n1:name=systemd:") + userSlice +
                         QStringLiteral("app-org.old.Thing-1.scope\n0::") + userSlice +
                         QStringLiteral("app-org.gnome.Terminal.slice/vte-spawn-1.scope\n");
    EXPECT_EQ(
        applicationUnit(file),
        (ApplicationUnit{"0:", userSlice + "app-org.gnome.Terminal.slice", "org.gnome.Terminal"}));
    const QString systemdOnly = QStringLiteral("1:name=systemd:") + userSlice +
                                QStringLiteral("app-gnome-org.foo.Bar-9.scope\n0::/\n");
    EXPECT_EQ(applicationUnit(systemdOnly),
              (ApplicationUnit{"1:name=systemd", userSlice + "app-gnome-org.foo.Bar-9.scope",
                               "org.foo.Bar"}));
    EXPECT_EQ(applicationUnit(QStringLiteral("0::/system.slice/ssh.service\n")), std::nullopt);
    EXPECT_EQ(applicationUnit(QString()), std::nullopt);

    EXPECT_EQ(parentPidFromStat("812 (my (odd) cmd) S 77 812 812 0 -1"), 77);
    EXPECT_EQ(parentPidFromStat("812 (cmd"), std::nullopt);
    EXPECT_EQ(parentPidFromStat(""), std::nullopt);
}

TEST(RunningApps, DesktopEntryReader)
{
    const QByteArray entry = "# comment\n"
                             "[Other Group]\nName=Wrong\n"
                             "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name = Terminal\n"
                             "Name[de]=Terminal DE\n"
                             "Name[zh]=终端机\n"
                             "Name[zh_CN]=终端\n"
                             "Name=Second occurrence\n"
                             "Icon=utilities-terminal\n"
                             "Comment=a\\sb\n"
                             "[Desktop Action new]\nName=新窗口\nIcon=other\n";
    const auto parsed = parseDesktopEntry(entry, {"zh_CN", "zh"});
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed,
              (DesktopEntry{QStringLiteral("终端"), QStringLiteral("utilities-terminal"), false}));
    EXPECT_EQ(parseDesktopEntry(entry, {"zh_TW", "zh"})->name, QStringLiteral("终端机"));
    EXPECT_EQ(parseDesktopEntry(entry, {"fr"})->name, QStringLiteral("Terminal"));

    const auto escaped = parseDesktopEntry("[Desktop Entry]\nName=Two\\sWords\\\\x\nName[zh_CN]=\n"
                                           "Hidden=true\n",
                                           {"zh_CN"});
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->name, QStringLiteral("Two Words\\x")); // an empty translation is skipped
    EXPECT_EQ(escaped->icon, std::nullopt);
    EXPECT_TRUE(escaped->hidden);

    EXPECT_EQ(parseDesktopEntry("[Desktop Action x]\nName=y\n", {}), std::nullopt);
    EXPECT_EQ(parseDesktopEntry("", {}), std::nullopt);
}

TEST(RunningApps, RegistryCountsOnlyTheLeadingProcessOfAUnit)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString apps = dir.filePath(QStringLiteral("share/applications"));
    ASSERT_TRUE(
        writeFile(apps + "/org.gnome.Terminal.desktop",
                  "[Desktop Entry]\nName=Terminal\nName[zh_CN]=终端\nIcon=org.gnome.Terminal\n"));
    ASSERT_TRUE(writeFile(apps + "/org/example/Tool.desktop",
                          "[Desktop Entry]\nName=Tool\nIcon=/opt/tool/icon.png\n"));

    const QString terminal = userSlice + "app-org.gnome.Terminal.slice";
    FakeProc proc(dir.filePath(QStringLiteral("proc")));
    proc.add(1, 0, "/init.scope");
    proc.add(900, 1, "/user.slice/user-1000.slice/user@1000.service/init.scope");
    proc.add(1200, 900, terminal + "/gnome-terminal-server.service"); // leads the slice
    proc.add(1300, 1200, terminal + "/vte-spawn-1.scope");            // its shell: a child
    proc.add(1400, 1300, terminal + "/vte-spawn-1.scope");
    proc.add(1500, 900, userSlice + "app-gnome-org\\x2dexample\\x2dTool-12.scope");
    proc.add(1600, 900, userSlice + "app-gnome-org.missing.App-3.scope");
    proc.add(1700, 900, "/system.slice/cron.service");
    proc.add(1800, 4242, userSlice + "app-org.gnome.Terminal.slice/x.scope"); // parent gone

    const auto registry = runningApplicationsIn(dir.filePath("proc"), {apps}, {"zh_CN", "zh"});
    ASSERT_EQ(registry.size(), 4);
    auto check = [&](int at, qint32 pid, std::optional<QString> name, std::optional<QString> id,
                     std::optional<QString> icon) {
        EXPECT_EQ(registry[at].pid, pid);
        EXPECT_EQ(registry[at].localizedName, name) << pid;
        EXPECT_EQ(registry[at].bundleIdentifier, id) << pid;
        EXPECT_EQ(registry[at].iconName, icon) << pid;
    };
    check(0, 1200, QStringLiteral("终端"), "org.gnome.Terminal", "org.gnome.Terminal");
    check(1, 1500, "Tool", "org-example-Tool", "/opt/tool/icon.png");
    check(2, 1600, std::nullopt, "org.missing.App", std::nullopt);
    check(3, 1800, QStringLiteral("终端"), "org.gnome.Terminal", "org.gnome.Terminal");

    EXPECT_EQ(runningApplicationIn(dir.filePath("proc"), 1300, {apps}, {"zh_CN"}), std::nullopt);
    EXPECT_EQ(runningApplicationIn(dir.filePath("proc"), 1200, {apps}, {})->localizedName,
              "Terminal");
    EXPECT_EQ(runningApplicationIn(dir.filePath("proc"), 0, {apps}, {}), std::nullopt);
    EXPECT_TRUE(runningApplicationsIn(dir.filePath("absent"), {apps}, {}).isEmpty());

    // A record of a leading process takes the application's name as its display name.
    QList<ServicePort> ports{
        ServicePort{
            QUuid::createUuid(), 8080, "TCP", "*", 1200, "gnome-terminal-", "dev", {}, {}, {}},
        ServicePort{QUuid::createUuid(), 8081, "TCP", "*", 1300, "bash", "dev", {}, {}, {}}};
    PortScanner::detail::applyRunningApps(ports, registry);
    EXPECT_EQ(ports[0].displayName(), QStringLiteral("终端"));
    EXPECT_EQ(ports[0].bundleID, QStringLiteral("org.gnome.Terminal"));
    EXPECT_EQ(ports[1].displayName(), QStringLiteral("bash"));
}

TEST(RunningApps, InstalledApplicationsComeFromTheXdgDataFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath("data-home");
    const QString first = dir.filePath("first");
    const QString second = dir.filePath("second");
    ASSERT_TRUE(writeFile(second + "/applications/org.example.Editor.desktop",
                          "[Desktop Entry]\nName=Editor\nIcon=accessories-text-editor\n"));
    ASSERT_TRUE(writeFile(first + "/applications/org.example.Editor.desktop",
                          "[Desktop Entry]\nName=Editor (first)\nIcon=first-icon\n"));
    ASSERT_TRUE(writeFile(second + "/applications/org.example.Gone.desktop",
                          "[Desktop Entry]\nName=Gone\n"));
    ASSERT_TRUE(writeFile(home + "/applications/org.example.Gone.desktop",
                          "[Desktop Entry]\nHidden=true\n"));
    ASSERT_TRUE(writeFile(second + "/applications/kde/org.kde.Thing.desktop",
                          "[Desktop Entry]\nName=Thing\n"));

    EnvironmentOverride dataHome("XDG_DATA_HOME", home.toUtf8());
    EnvironmentOverride dataDirs("XDG_DATA_DIRS", (first + ":relative/ignored:" + second).toUtf8());
    EXPECT_EQ(applicationFolders(), (QStringList{home + "/applications", first + "/applications",
                                                 second + "/applications"}));

    const auto editor = Platform::installedApplication("org.example.Editor");
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->path, first + "/applications/org.example.Editor.desktop");
    EXPECT_EQ(editor->iconName, QStringLiteral("first-icon"));

    const auto thing = Platform::installedApplication("kde-org.kde.Thing");
    ASSERT_TRUE(thing);
    EXPECT_EQ(thing->path, second + "/applications/kde/org.kde.Thing.desktop");
    EXPECT_EQ(thing->iconName, std::nullopt);

    EXPECT_EQ(Platform::installedApplication("org.example.Gone"),
              std::nullopt); // hidden by the user
    EXPECT_EQ(Platform::installedApplication("org.example.Missing"), std::nullopt);
    EXPECT_EQ(Platform::installedApplication(""), std::nullopt);
    EXPECT_EQ(Platform::installedApplication("../applications/org.example.Editor"), std::nullopt);

    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(applicationFolders(),
              (QStringList{Platform::homeDirectory() + "/.local/share/applications",
                           "/usr/local/share/applications", "/usr/share/applications"}));
}

TEST(RunningApps, RealRegistryDoesNotCountPlainProcesses)
{
    // This test program was not started from a desktop entry.
    EXPECT_EQ(Platform::runningApplication(static_cast<qint32>(::getpid())), std::nullopt);
    for (const auto& application : Platform::runningApplications()) {
        EXPECT_GT(application.pid, 0);
        EXPECT_NE(application.pid, static_cast<qint32>(::getpid()));
        EXPECT_TRUE(application.bundleIdentifier.has_value());
    }
}

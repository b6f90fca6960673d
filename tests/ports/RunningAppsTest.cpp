#include "PortScannerParsing.h"
#include "Printing.h"
#include "RunningAppsLinuxParsing.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

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

// A process as the /proc readers give it: its cgroup file and its parent.
Platform::ProcessFacts process(qint32 pid, qint32 parent, const QString& cgroup)
{
    Platform::ProcessFacts facts;
    facts.pid = pid;
    facts.parentPid = parent;
    facts.cgroups = "1:name=systemd:/\n0::" + cgroup.toUtf8() + "\n";
    return facts;
}

} // namespace

TEST(RunningApps, ApplicationUnitsNameDesktopIds)
{
    const std::vector<std::pair<const char16_t*, std::optional<QString>>> cases{
        {u"app-org.gnome.Terminal.slice", "org.gnome.Terminal"},
        {u"app-gnome-org.gnome.Nautilus-4521.scope", "org.gnome.Nautilus"},
        {u"app-org.mozilla.firefox-a1b2c3.scope", "org.mozilla.firefox"},
        {u"app-gnome-firefox\\x2desr-77.scope", "firefox-esr"},
        {u"app-kde-org.kde.konsole@3f2a.service", "org.kde.konsole"},
        {u"app-org.example.Daemon.service", "org.example.Daemon"},
        {u"app.slice", std::nullopt},
        {u"app-gnome-.slice", std::nullopt},
        {u"app-nodash.scope", std::nullopt},          // a scope always ends in -N
        {u"app-a-b-c-1.scope", std::nullopt},         // an unescaped dash inside the ID
        {u"app-gnome-..-1.scope", std::nullopt},      // would climb out of the folder
        {u"app-gnome-a\\x2fb-1.scope", std::nullopt}, // an escaped slash
        {u"vte-spawn-0e7c.scope", std::nullopt},
    };
    for (const auto& [unit, id] : cases)
        EXPECT_EQ(desktopIdOfUnit(QString::fromUtf16(unit)), id)
            << QString::fromUtf16(unit).toStdString();

    // The innermost unit counts, on the unified hierarchy before the systemd one.
    EXPECT_EQ(
        applicationUnit("1:name=systemd:" + userSlice + "app-org.old.Thing-1.scope\n0::" +
                        userSlice + "app-org.gnome.Terminal.slice/vte-spawn-1.scope\n"),
        (ApplicationUnit{"0:", userSlice + "app-org.gnome.Terminal.slice", "org.gnome.Terminal"}));
    EXPECT_EQ(
        applicationUnit("1:name=systemd:" + userSlice + "app-gnome-org.foo.Bar-9.scope\n0::/\n"),
        (ApplicationUnit{"1:name=systemd", userSlice + "app-gnome-org.foo.Bar-9.scope",
                         "org.foo.Bar"}));
    EXPECT_EQ(applicationUnit(u"0::/system.slice/ssh.service\n"), std::nullopt);
}

TEST(RunningApps, DesktopEntryReader)
{
    const QByteArray entry = "# comment\n[Other Group]\nName=Wrong\n[Desktop Entry]\n"
                             "Name = Terminal\nName[zh]=终端机\nName[zh_CN]=终端\nName=Later\n"
                             "Icon=utilities-terminal\n[Desktop Action new]\nName=新窗口\n";
    EXPECT_EQ(parseDesktopEntry(entry, {"zh_CN", "zh"}),
              (DesktopEntry{"终端", "utilities-terminal", false}));
    EXPECT_EQ(parseDesktopEntry(entry, {"zh_TW", "zh"})->name, "终端机");
    EXPECT_EQ(parseDesktopEntry(entry, {"fr"})->name, "Terminal");
    // Escapes decode, an empty translation is skipped, Hidden is read.
    EXPECT_EQ(parseDesktopEntry(
                  "[Desktop Entry]\nName=Two\\sWords\\\\x\nName[zh_CN]=\nHidden=true\n", {"zh_CN"}),
              (DesktopEntry{"Two Words\\x", std::nullopt, true}));
    EXPECT_EQ(parseDesktopEntry("[Desktop Action x]\nName=y\n", {}), std::nullopt);
}

TEST(RunningApps, OnlyTheProcessThatLeadsAUnitIsTheApplication)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString apps = dir.filePath("applications"), proc = dir.filePath("proc");
    ASSERT_TRUE(
        writeFile(apps + "/org.gnome.Terminal.desktop",
                  "[Desktop Entry]\nName=Terminal\nName[zh_CN]=终端\nIcon=org.gnome.Terminal\n"));
    ASSERT_TRUE(writeFile(apps + "/org/example/Tool.desktop",
                          "[Desktop Entry]\nName=Tool\nIcon=/opt/t.png\n"));
    ASSERT_TRUE(
        writeFile(apps + "/org.ex.Gone.desktop", "[Desktop Entry]\nName=Gone\nHidden=true\n"));
    // The user manager, a parent that is not among the processes asked about: read from /proc.
    ASSERT_TRUE(writeFile(proc + "/900/cgroup",
                          "0::/user.slice/user-1000.slice/user@1000.service/init.scope\n"));

    const QString terminal = userSlice + "app-org.gnome.Terminal.slice";
    const QList<Platform::ProcessFacts> processes{
        process(1200, 900, terminal + "/gnome-terminal-server.service"), // leads the slice
        process(1300, 1200, terminal + "/vte-spawn-1.scope"),            // its shell
        process(1500, 900, userSlice + "app-gnome-org\\x2dexample\\x2dTool-12.scope"),
        process(1600, 900, userSlice + "app-gnome-org.missing.App-3.scope"),
        process(1650, 900, userSlice + "app-gnome-org.ex.Gone-4.scope"),
        process(1700, 900, "/system.slice/cron.service")};
    const auto registry = runningApplicationsAmong(proc, processes, {apps}, {"zh_CN", "zh"});
    std::map<qint32,
             std::tuple<std::optional<QString>, std::optional<QString>, std::optional<QString>>>
        seen;
    for (const auto& app : registry)
        seen[app.pid] = {app.localizedName, app.bundleIdentifier, app.iconName};
    EXPECT_EQ(seen, (decltype(seen){{1200, {"终端", "org.gnome.Terminal", "org.gnome.Terminal"}},
                                    {1500, {"Tool", "org-example-Tool", "/opt/t.png"}},
                                    {1600, {std::nullopt, "org.missing.App", std::nullopt}},
                                    {1650, {std::nullopt, "org.ex.Gone", std::nullopt}}}));

    // A record of the leading process takes the application's name and icon; its child's does not.
    QList<ServicePort> ports{
        ServicePort{{}, 8080, "TCP", "*", 1200, "gnome-terminal-", "", {}, {}, {}},
        ServicePort{{}, 8081, "TCP", "*", 1300, "bash", "", {}, {}, {}}};
    PortScanner::detail::applyRunningApps(ports, registry);
    EXPECT_EQ(ports[0].displayName(), "终端");
    EXPECT_EQ(ports[0].iconName, "org.gnome.Terminal");
    EXPECT_EQ(ports[1].displayName(), "bash");
    EXPECT_EQ(ports[1].bundleID, std::nullopt);
}

TEST(RunningApps, DesktopEntriesComeFromTheXdgDataFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath("home"), first = dir.filePath("first"),
                  second = dir.filePath("second");
    ASSERT_TRUE(writeFile(second + "/applications/org.ex.Editor.desktop", "[Desktop Entry]\n"));
    ASSERT_TRUE(writeFile(first + "/applications/org.ex.Editor.desktop", "[Desktop Entry]\n"));
    ASSERT_TRUE(writeFile(second + "/applications/kde/org.kde.Thing.desktop", "[Desktop Entry]\n"));
    qputenv("XDG_DATA_HOME", home.toUtf8());
    qputenv("XDG_DATA_DIRS", (first + ":relative/ignored:" + second).toUtf8());

    const QStringList folders = applicationFolders();
    EXPECT_EQ(folders, (QStringList{home + "/applications", first + "/applications",
                                    second + "/applications"}));
    EXPECT_EQ(findDesktopFile("org.ex.Editor", folders),
              first + "/applications/org.ex.Editor.desktop");
    EXPECT_EQ(findDesktopFile("kde-org.kde.Thing", folders),
              second + "/applications/kde/org.kde.Thing.desktop");
    for (const char* absent : {"org.ex.Missing", "", "../applications/org.ex.Editor"})
        EXPECT_EQ(findDesktopFile(absent, folders), std::nullopt) << absent;

    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(applicationFolders(),
              (QStringList{Platform::homeDirectory() + "/.local/share/applications",
                           "/usr/local/share/applications", "/usr/share/applications"}));
}

#include "PortScannerParsing.h"
#include "Printing.h"
#include "platform/Platform.h"
#include "RunningAppsLinuxParsing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

// One process of a /proc-shaped fixture folder: its cgroup file and stat line.
void addProcess(const QString& proc, qint32 pid, qint32 parent, const QString& cgroup)
{
    const QString folder = proc + QLatin1Char('/') + QString::number(pid);
    writeFile(folder + "/cgroup", "1:name=systemd:/\n0::" + cgroup.toUtf8() + "\n");
    writeFile(folder + "/stat",
              QByteArray::number(pid) + " (a (b) c) S " + QByteArray::number(parent) + " 1 1\n");
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
    EXPECT_EQ(parentPidFromStat("812 (my (odd) cmd) S 77 812"), 77);
    EXPECT_EQ(parentPidFromStat("812 (cmd"), std::nullopt);
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

TEST(RunningApps, RegistryCountsOnlyTheLeadingProcessOfAUnit)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString apps = dir.filePath("applications"), proc = dir.filePath("proc");
    ASSERT_TRUE(
        writeFile(apps + "/org.gnome.Terminal.desktop",
                  "[Desktop Entry]\nName=Terminal\nName[zh_CN]=终端\nIcon=org.gnome.Terminal\n"));
    ASSERT_TRUE(writeFile(apps + "/org/example/Tool.desktop",
                          "[Desktop Entry]\nName=Tool\nIcon=/opt/t.png\n"));
    const QString terminal = userSlice + "app-org.gnome.Terminal.slice";
    addProcess(proc, 900, 1, "/user.slice/user-1000.slice/user@1000.service/init.scope");
    addProcess(proc, 1200, 900, terminal + "/gnome-terminal-server.service"); // leads the slice
    addProcess(proc, 1300, 1200, terminal + "/vte-spawn-1.scope");            // its shell
    addProcess(proc, 1500, 900, userSlice + "app-gnome-org\\x2dexample\\x2dTool-12.scope");
    addProcess(proc, 1600, 900, userSlice + "app-gnome-org.missing.App-3.scope");
    addProcess(proc, 1700, 900, "/system.slice/cron.service");

    const auto registry = runningApplicationsIn(proc, {apps}, {"zh_CN", "zh"});
    std::vector<
        std::tuple<qint32, std::optional<QString>, std::optional<QString>, std::optional<QString>>>
        seen;
    for (const auto& app : registry)
        seen.emplace_back(app.pid, app.localizedName, app.bundleIdentifier, app.iconName);
    EXPECT_EQ(seen, (decltype(seen){{1200, "终端", "org.gnome.Terminal", "org.gnome.Terminal"},
                                    {1500, "Tool", "org-example-Tool", "/opt/t.png"},
                                    {1600, std::nullopt, "org.missing.App", std::nullopt}}));
    EXPECT_EQ(runningApplicationIn(proc, 1300, {apps}, {}), std::nullopt);
    EXPECT_EQ(runningApplicationIn(proc, 1200, {apps}, {})->localizedName, "Terminal");

    // A record of the leading process takes the application's name; its child's does not.
    QList<ServicePort> ports{
        ServicePort{{}, 8080, "TCP", "*", 1200, "gnome-terminal-", "", {}, {}, {}},
        ServicePort{{}, 8081, "TCP", "*", 1300, "bash", "", {}, {}, {}}};
    PortScanner::detail::applyRunningApps(ports, registry);
    EXPECT_EQ(ports[0].displayName(), "终端");
    EXPECT_EQ(ports[0].bundleID, "org.gnome.Terminal");
    EXPECT_EQ(ports[1].displayName(), "bash");
    EXPECT_EQ(ports[1].bundleID, std::nullopt);
}

TEST(RunningApps, InstalledApplicationsComeFromTheXdgDataFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath("home"), first = dir.filePath("first"),
                  second = dir.filePath("second");
    ASSERT_TRUE(writeFile(second + "/applications/org.ex.Editor.desktop",
                          "[Desktop Entry]\nIcon=second\n"));
    ASSERT_TRUE(
        writeFile(first + "/applications/org.ex.Editor.desktop", "[Desktop Entry]\nIcon=first\n"));
    ASSERT_TRUE(
        writeFile(second + "/applications/org.ex.Gone.desktop", "[Desktop Entry]\nName=Gone\n"));
    ASSERT_TRUE(
        writeFile(home + "/applications/org.ex.Gone.desktop", "[Desktop Entry]\nHidden=true\n"));
    ASSERT_TRUE(writeFile(second + "/applications/kde/org.kde.Thing.desktop", "[Desktop Entry]\n"));
    qputenv("XDG_DATA_HOME", home.toUtf8());
    qputenv("XDG_DATA_DIRS", (first + ":relative/ignored:" + second).toUtf8());

    EXPECT_EQ(applicationFolders(), (QStringList{home + "/applications", first + "/applications",
                                                 second + "/applications"}));
    auto installed = [](const QString& id) {
        const auto app = Platform::installedApplication(id);
        return app ? std::optional(std::pair(app->path, app->iconName)) : std::nullopt;
    };
    EXPECT_EQ(installed("org.ex.Editor"), std::pair(first + "/applications/org.ex.Editor.desktop",
                                                    std::optional<QString>("first")));
    EXPECT_EQ(
        installed("kde-org.kde.Thing"),
        std::pair(second + "/applications/kde/org.kde.Thing.desktop", std::optional<QString>()));
    for (const char* absent :
         {"org.ex.Gone", "org.ex.Missing", "", "../applications/org.ex.Editor"})
        EXPECT_EQ(installed(absent), std::nullopt) << absent;

    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(applicationFolders(),
              (QStringList{Platform::homeDirectory() + "/.local/share/applications",
                           "/usr/local/share/applications", "/usr/share/applications"}));
}

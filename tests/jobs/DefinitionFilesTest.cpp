#include "JobsFixtures.h"
#include "LaunchctlParsing.h"
#include "Printing.h"

#include <sys/stat.h>

using namespace LaunchctlManager;
using namespace jobs_test;

namespace {

QVariantMap calendar(const QVariant& value)
{
    return {{"StartCalendarInterval", value}};
}

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

} // namespace

// Every schedule goes through a real file, once as XML and once as binary.
TEST(JobsDefinitions, SchedulesInWords)
{
    const std::pair<QVariantMap, std::optional<QString>> cases[] = {
        {calendar(QVariantMap({{"Hour", 3}, {"Minute", 15}})), "每天 03:15"},
        {calendar(QVariantMap({{"Minute", 30}})), "每天 每小时第 30 分"},
        {calendar(QVariantMap()), "每天 （每分钟）"},
        {calendar(QVariantMap({{"Weekday", 1}, {"Hour", 10}, {"Minute", 0}})), "周一 10:00"},
        {calendar(QVariantMap({{"Weekday", 9}, {"Hour", 1}})), "周9 01:00"},
        {calendar(QVariantMap({{"Day", 1}, {"Hour", 0}, {"Minute", 0}})), "每月 1 日 00:00"},
        {calendar(QVariantMap({{"Month", 1}, {"Day", 1}, {"Hour", 0}})), "每年1月1日 00:00"},
        {calendar(QVariantMap({{"Month", 6}, {"Weekday", 5}, {"Hour", 8}})), "周五 08:00"},
        {calendar(QVariantList{QVariantMap({{"Hour", 9}}), QVariantMap({{"Hour", 21}})}),
         "每天 09:00；每天 21:00"},
        {{{"StartInterval", 86400}}, "每隔 1 天"},
        {{{"StartInterval", 90000}}, "每隔 25 小时"},
        {{{"StartInterval", 300}}, "每隔 5 分钟"},
        {{{"StartInterval", 90}}, "每隔 90 秒"},
        // Negative integers are stored as their unsigned bits by the library.
        {calendar(QVariantMap({{"Weekday", -1}, {"Hour", -3}})), "周-1 -3:00"},
        // Reals count when exactly integral; booleans and texts never.
        {calendar(QVariantMap({{"Hour", 9.0}, {"Minute", 7.5}})), "每天 09:00"},
        {calendar(QVariantMap({{"Hour", "9"}, {"Weekday", true}})), "每天 （每分钟）"},
        {{{"StartInterval", 1e300}}, std::nullopt},
        // A calendar that says nothing usable gives way to the interval.
        {{{"StartCalendarInterval", QVariantList()}, {"StartInterval", 600}}, "每隔 10 分钟"},
        {{{"StartCalendarInterval", "daily"}, {"StartInterval", 600.0}}, "每隔 10 分钟"},
        {{{"StartCalendarInterval", QVariantList{QVariantMap({{"Hour", 1}}), 5}},
          {"StartInterval", 60}},
         "每隔 1 分钟"},
        {{{"StartCalendarInterval", QVariantMap({{"Hour", 1}})}, {"StartInterval", 60}},
         "每天 01:00"},
        {calendar(7), std::nullopt},
        {{{"StartInterval", 0}}, std::nullopt},
        {{{"StartInterval", -60}}, std::nullopt},
        {{{"StartInterval", "60"}}, std::nullopt},
    };
    QTemporaryDir dir;
    for (const auto& [content, expected] : cases) {
        for (const Format format : {Format::xml, Format::binary}) {
            writePlist(dir.filePath("job.plist"), content, format);
            EXPECT_EQ(readPlist(dir.filePath("job.plist")).schedule, expected)
                << QString::fromUtf8(plistBytes(content, Format::xml)).toStdString();
        }
    }
}

// The next run follows launchd's reading of the calendar entries, in local time, strictly after
// the given moment; an interval gives no time of day to run at.
TEST(JobsDefinitions, CalendarEntriesGiveTheNextRun)
{
    const char* monday = "2026-12-07T10:00:00";
    const std::tuple<QVariantMap, const char*, std::optional<QDateTime>> cases[] = {
        {calendar(QVariantMap({{"Hour", 3}, {"Minute", 15}})), monday, at("2026-12-08T03:15:00")},
        {calendar(QVariantMap({{"Hour", 3}, {"Minute", 15}})), "2026-12-08T03:15:00",
         at("2026-12-09T03:15:00")},
        {calendar(QVariantMap({{"Hour", 3}})), "2026-12-31T23:59:30", at("2027-01-01T03:00:00")},
        {calendar(QVariantMap()), "2026-02-28T23:59:59", at("2026-03-01T00:00:00")},
        {calendar(QVariantMap({{"Minute", 30}})), monday, at("2026-12-07T10:30:00")},
        {calendar(QVariantList{QVariantMap({{"Hour", 9}}), QVariantMap({{"Hour", 21}})}), monday,
         at("2026-12-07T21:00:00")},
        {calendar(QVariantMap({{"Weekday", 7}, {"Hour", 9}})), monday, at("2026-12-13T09:00:00")},
        {calendar(QVariantMap({{"Weekday", 0}})), monday, at("2026-12-13T00:00:00")},
        // A day of the month and a weekday: whichever comes first.
        {calendar(QVariantMap({{"Day", 13}, {"Weekday", 5}, {"Hour", 9}})), monday,
         at("2026-12-11T09:00:00")},
        {calendar(QVariantMap({{"Day", 13}, {"Weekday", 5}, {"Hour", 9}})), "2026-12-11T10:00:00",
         at("2026-12-13T09:00:00")},
        {calendar(QVariantMap({{"Month", 12}, {"Day", 25}, {"Hour", 8}, {"Minute", 0}})),
         "2026-12-25T08:00:00", at("2027-12-25T08:00:00")},
        {calendar(QVariantMap({{"Month", 2}, {"Day", 29}})), monday, at("2028-02-29T00:00:00")},
        {{{"StartCalendarInterval", QVariantMap({{"Hour", 11}})}, {"StartInterval", 60}},
         monday,
         at("2026-12-07T11:00:00")},
        {calendar(QVariantMap({{"Weekday", 9}, {"Hour", 1}})), monday, std::nullopt},
        {calendar(QVariantMap({{"Hour", 24}})), monday, std::nullopt},
        {calendar(QVariantMap({{"Month", 2}, {"Day", 30}})), monday, std::nullopt},
        {{{"StartInterval", 3600}}, monday, std::nullopt},
    };
    for (const auto& [content, from, expected] : cases) {
        const PlistContents contents = decodePlist(plistBytes(content, Format::binary));
        EXPECT_EQ(nextCalendarRun(contents.calendar, at(from)), expected)
            << from << QString::fromUtf8(plistBytes(content, Format::xml)).toStdString();
    }
}

// A definition file is whatever a user or package left in a folder: only a bounded regular file
// is read; anything else is kept as a definition without contents.
TEST(JobsDefinitions, OnlyBoundedRegularFilesAreRead)
{
    QTemporaryDir dir;
    const QVariantMap labelled{{"Label", "named"}, {"Program", "/bin/p"}};
    const QByteArray xml = plistBytes(labelled, Format::xml);
    const PlistContents named{"named", "/bin/p", {}, {}};
    const auto read = [&](const QString& name) { return readPlist(dir.filePath(name)); };

    writeFile(dir.filePath("bom.plist"), "\xEF\xBB\xBF" + xml);
    EXPECT_EQ(read("bom.plist"), named);
    writeFile(dir.filePath("target"), plistBytes(labelled, Format::binary));
    ASSERT_TRUE(QFile::link(dir.filePath("target"), dir.filePath("link.plist")));
    EXPECT_EQ(read("link.plist"), named);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.plist")).constData(), 0600), 0);
    EXPECT_EQ(read("fifo.plist"), PlistContents());
    EXPECT_EQ(readPlist("/dev/zero"), PlistContents());
    // Padding after the closing tag keeps the file a valid property list of the given size.
    const QByteArray padded = xml + QByteArray(maxDefinitionFileSize - xml.size(), ' ');
    writeFile(dir.filePath("max.plist"), padded);
    EXPECT_EQ(read("max.plist"), named);
    writeFile(dir.filePath("big.plist"), padded + ' ');
    EXPECT_EQ(read("big.plist"), PlistContents());
    writeFile(dir.filePath("empty.plist"), {});
    EXPECT_EQ(read("empty.plist"), PlistContents());
    writeFile(dir.filePath("list.plist"), plistBytes({}, Format::xml).replace("dict", "array"));
    EXPECT_EQ(read("list.plist"), PlistContents());

    // Deep XML decodes without exhausting the stack; a binary list with more objects than any
    // definition holds is not decoded (its cost grows with the square of its depth).
    FakeLaunchd folders;
    const int depth = 270000;
    writeFile(folders.file(0, "d.plist"), "<plist><dict><key>Label</key><string>deep</string>"
                                          "<key>x</key>" +
                                              QByteArray("<array>").repeated(depth) +
                                              QByteArray("</array>").repeated(depth) +
                                              "</dict></plist>");
    EXPECT_TRUE(discoverPlistPaths().contains("deep"));
    QVariantList many;
    for (int i = 0; i <= int(maxBinaryObjects); ++i)
        many.append(i);
    EXPECT_EQ(decodePlist(plistBytes({{"Label", "big"}, {"x", many}}, Format::binary)),
              PlistContents());
    EXPECT_EQ(decodePlist(plistBytes({{"Label", "big"}, {"x", many}}, Format::xml)).label, "big");
}

TEST(JobsDefinitions, FolderPrecedenceAndProgramLine)
{
    FakeLaunchd f;
    const QVariantList args{"/bin/sh", "-c", "echo hi"};
    // Declared labels: the later folder wins, and within a folder the later name.
    writePlist(f.file(0, "one.plist"), {{"Label", "x"}});
    writePlist(f.file(1, "two.plist"),
               {{"Label", "x"}, {"ProgramArguments", args}, {"Program", "/bin/p"}}, Format::binary);
    writePlist(f.file(4, "a.plist"), {{"Label", "w"}});
    writePlist(
        f.file(4, "b.plist"),
        {{"Label", "w"}, {"ProgramArguments", QVariantList{"/bin/w", 3}}, {"Program", "/p"}});
    // A file without a label only fills a free key ...
    writePlist(f.file(0, "first.plist"),
               {{"Label", "y"}, {"Program", "/y"}, {"StartInterval", 60}});
    writePlist(f.file(2, "y.plist"), {{"Program", "/bin/other"}});
    // ... and gives way to a later declared label.
    writePlist(f.file(0, "z.plist"), {{"Program", "/bin/z"}});
    writePlist(f.file(2, "declares-z.plist"),
               {{"Label", "z"}, {"ProgramArguments", QVariantList()}});
    // Unreadable, undecodable or wrongly typed entries still stand for their stem.
    writeFile(f.file(3, "junk.plist"), "not a property list");
    writePlist(f.file(3, "num.plist"), {{"Label", 5}, {"Program", args}});
    QDir().mkpath(f.file(3, "folder.plist"));
    writeFile(f.file(4, ".plist"), {});
    writeFile(f.file(4, "ignored.PLIST"), {});

    EXPECT_EQ(discoverPlistPaths(),
              (QHash<QString, PlistInfo>{
                  {"x", {f.file(1, "two.plist"), "/bin/sh -c echo hi", {}, {}}},
                  {"w", {f.file(4, "b.plist"), "/p", {}, {}}},
                  {"y", {f.file(0, "first.plist"), "/y", "每隔 1 分钟", {}}},
                  {"z", {f.file(2, "declares-z.plist"), {}, {}, {}}},
                  {"junk", {f.file(3, "junk.plist"), {}, {}, {}}},
                  {"num", {f.file(3, "num.plist"), {}, {}, {}}},
                  {"folder", {f.file(3, "folder.plist"), {}, {}, {}}},
                  {"", {f.file(4, ".plist"), {}, {}, {}}},
              }));
    Platform::testing::setLaunchdFolders(QStringList{f.folders()[0] + "/missing", f.folders()[0]});
    EXPECT_EQ(discoverPlistPaths().value("z").program, "/bin/z");
}

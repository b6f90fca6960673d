#include "CronTable.h"
#include "CronCommand.h"
#include "CronScheduleWords.h"

#include "Printing.h"

#include <gtest/gtest.h>

namespace {

CronEntry onlyEntry(const QString& line, CronTableKind kind = CronTableKind::user)
{
    const QList<CronEntry> entries = parseCronTable(line, kind);
    EXPECT_EQ(entries.size(), 1) << line.toStdString();
    return entries.value(0);
}

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

std::optional<QDateTime> nextRun(const QString& line, const char* after)
{
    const CronEntry entry = onlyEntry(line);
    if (!entry.fields)
        return std::nullopt;
    const auto schedule = entry.fields->schedule();
    return schedule ? schedule->nextRun(at(after)) : std::nullopt;
}

} // namespace

TEST(CronScheduleWords, SaysCommonTimingsInWordsAndShowsTheRestAsWritten)
{
    const std::pair<const char*, const char*> cases[] = {
        {"*/5 * * * *", "每隔 5 分钟"},
        {"15 3 * * *", "每天 03:15"},
        {"0 9 * * 1-5", "周一至周五 09:00"},
        {"30 * * * *", "每小时第 30 分"},
        {"0 0 1 * *", "每月 1 日 00:00"},
        {"0 8 25 12 *", "每年12月25日 08:00"},
        {"0 10 * * 7", "周日 10:00"},
        {"05 07 * * *", "每天 07:05"},
        {"@reboot", "开机时"},
        {"@hourly", "每小时第 0 分"},
        {"@daily", "每天 00:00"},
        {"@midnight", "每天 00:00"},
        {"@weekly", "周日 00:00"},
        {"@monthly", "每月 1 日 00:00"},
        {"@yearly", "每年1月1日 00:00"},
        {"@annually", "每年1月1日 00:00"},
        // Lists, ranges of days, steps in hours, names, and what no phrase says truly.
        {"0 9,21  *  * *", "0 9,21  *  * *"},
        {"0 9 1-7 * *", "0 9 1-7 * *"},
        {"0 */2 * * *", "0 */2 * * *"},
        {"0 9 * * mon-fri", "0 9 * * mon-fri"},
        {"0 9 * * 6,0", "0 9 * * 6,0"},
        {"*/7 * * * *", "*/7 * * * *"},
        {"30 4 1 * 5", "30 4 1 * 5"},
        {"0 12 * 6 *", "0 12 * 6 *"},
        {"0 12 * * 5-1", "0 12 * * 5-1"},
        {"* * * * *", "* * * * *"},
        {"75 3 * * *", "75 3 * * *"},
        {"@every5m", "@every5m"},
    };
    for (const auto& [timing, words] : cases) {
        const CronEntry entry = onlyEntry(QString::fromUtf8(timing) + QStringLiteral(" /bin/true"));
        EXPECT_EQ(cronScheduleWords(entry), QString::fromUtf8(words)) << timing;
    }
}

TEST(CronFields, NextRunFollowsEveryFieldAcrossMonthAndYearEnds)
{
    // Local times throughout; 2026-12-07 is a Monday.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"15 3 * * *", "2026-12-31T23:59:00", "2027-01-01T03:15:00"},
        {"0 0 1 * *", "2026-01-31T12:00:00", "2026-02-01T00:00:00"},
        {"0 8 25 12 *", "2026-12-25T08:00:00", "2027-12-25T08:00:00"},
        {"@yearly", "2026-06-01T00:00:00", "2027-01-01T00:00:00"},
        {"@weekly", "2026-12-07T10:00:00", "2026-12-13T00:00:00"},
        {"0 0 * * 7", "2026-12-07T10:00:00", "2026-12-13T00:00:00"},
        {"*/15 9-17/4 * * *", "2026-12-07T17:50:00", "2026-12-08T09:00:00"},
        {"0 12 * JAN-Mar mon-fri", "2026-03-31T12:00:00", "2027-01-01T12:00:00"},
        {"0 0 29 feb *", "2026-03-01T00:00:00", "2028-02-29T00:00:00"},
        // Day of month and weekday both narrowed: either will do.
        {"30 4 1,15 * 5", "2026-12-07T00:00:00", "2026-12-11T04:30:00"},
        {"30 4 1,15 * 5", "2026-12-11T05:00:00", "2026-12-15T04:30:00"},
        // A field that begins with "*" is not narrowed, even with a step: both must match,
        // so odd days that are Mondays.
        {"0 9 */2 * 1", "2026-12-07T10:00:00", "2026-12-21T09:00:00"},
        {"0 9 1 * */2", "2026-12-07T10:00:00", "2027-04-01T09:00:00"},
    };
    for (const auto& [line, after, expected] : cases) {
        EXPECT_EQ(nextRun(QString::fromLatin1(line) + QStringLiteral(" x"), after), at(expected))
            << line << " after " << after;
    }
    for (const char* never : {"@reboot", "0 0 30 2 *", "5-1 * * * *", "61 * * * *", "0 0 * * 8",
                              "5/10 * * * *", "*/0 * * * *", "0 0 * jan/2 *", "1, * * * *"}) {
        EXPECT_EQ(nextRun(QString::fromLatin1(never) + QStringLiteral(" x"), "2026-12-07T00:00:00"),
                  std::nullopt)
            << never;
    }
}

TEST(CronTable, EntriesCarryTheirLineTheCommentAboveAndTheVariablesBefore)
{
    const QString table = QStringLiteral("# m h  dom mon dow   command\n"
                                         "0 3 * * * /usr/local/bin/first\n"
                                         "\n"
                                         "MAILTO=\"\"\n"
                                         "  PATH = /opt/bin:/usr/bin  \n"
                                         "#   Nightly backup  \n"
                                         "\t15 3 * * *\t\"/opt/my tools/backup\" --all \n"
                                         "# 0 4 * * * old-job\n"
                                         "@reboot sleep 1\n"
                                         "GREETING='  hi  '\n"
                                         "# a comment, then a blank line\n"
                                         "\n"
                                         "*/5 * * * * cd /srv && ./poll\n"
                                         "0 3 * * *\n"
                                         "0 3 * *\n"
                                         "@daily\n");
    const QList<CronEntry> entries = parseCronTable(table, CronTableKind::user);
    ASSERT_EQ(entries.size(), 4);

    EXPECT_EQ(entries[0].line, 2);
    EXPECT_EQ(entries[0].comment, std::nullopt) << "the column legend names nothing";
    EXPECT_TRUE(entries[0].variables.isEmpty());

    EXPECT_EQ(entries[1].line, 7);
    EXPECT_EQ(entries[1].comment, QStringLiteral("Nightly backup"));
    EXPECT_EQ(entries[1].timing, QStringLiteral("15 3 * * *"));
    EXPECT_EQ(entries[1].command, QStringLiteral("\"/opt/my tools/backup\" --all "));
    const QList<std::pair<QString, QString>> before{
        {QStringLiteral("MAILTO"), QString()},
        {QStringLiteral("PATH"), QStringLiteral("/opt/bin:/usr/bin  ")}};
    EXPECT_EQ(entries[1].variables, before);

    EXPECT_EQ(entries[2].comment, std::nullopt) << "a commented-out entry names nothing";
    EXPECT_TRUE(entries[2].atReboot);
    EXPECT_EQ(entries[2].fields, std::nullopt);

    EXPECT_EQ(entries[3].line, 13);
    EXPECT_EQ(entries[3].comment, std::nullopt) << "a blank line parts a comment from the entry";
    EXPECT_EQ(entries[3].variables.size(), 3);
    EXPECT_EQ(entries[3].variables.back().second, QStringLiteral("  hi  "));
}

TEST(CronTable, SystemTablesNameTheUserBeforeTheCommand)
{
    const QString table = QStringLiteral("SHELL=/bin/sh\n"
                                         "# *  *  *  *  * user-name command to be executed\n"
                                         "17 *\t* * *\troot\tcd / && run-parts --report /etc/x\n"
                                         "@reboot daemon /usr/sbin/warm-up\n"
                                         "0 4 * * * nobody\n");
    const QList<CronEntry> entries = parseCronTable(table, CronTableKind::system);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].comment, std::nullopt);
    EXPECT_EQ(entries[0].user, QStringLiteral("root"));
    EXPECT_EQ(entries[0].timing, QStringLiteral("17 *\t* * *"));
    EXPECT_EQ(entries[0].command, QStringLiteral("cd / && run-parts --report /etc/x"));
    EXPECT_EQ(entries[1].user, QStringLiteral("daemon"));
    EXPECT_EQ(entries[1].command, QStringLiteral("/usr/sbin/warm-up"));
}

TEST(CronCommand, PercentSignsEndTheCommandAndBecomeLinesOfItsInput)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"date +\\%Y-\\%m", "date +%Y-%m", ""},
        {"mail -s hi joe%Joe,%%Where are you?%", "mail -s hi joe", "Joe,\n\nWhere are you?\n"},
        {"printf '100\\%'%50\\% done", "printf '100%'", "50% done"},
        {"echo a\\b\\\\", "echo a\\b\\\\", ""},
    };
    for (const auto& [written, command, input] : cases) {
        const CronCommand split = CronCommand::fromWritten(QString::fromLatin1(written));
        EXPECT_EQ(split.shellCommand, QString::fromLatin1(command)) << written;
        EXPECT_EQ(split.input, QString::fromLatin1(input)) << written;
    }

    const std::pair<const char*, const char*> names[] = {
        {"/usr/local/bin/backup --all", "backup"},
        {"  \"/opt/my tools/sync\" now", "sync"},
        {"cd /srv && ./poll", "cd"},
        {"/opt/tool/ run", "tool"},
        {"cat%input", "cat"},
        {"%only input", "%only input"},
    };
    for (const auto& [written, name] : names)
        EXPECT_EQ(cronCommandName(QString::fromLatin1(written)), QString::fromLatin1(name));
}

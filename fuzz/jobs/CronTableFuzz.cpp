// A crontab's text, user's or system's, parsed into entries with their words, next runs and the
// command cron would run.

#include "CronCommand.h"
#include "CronScheduleWords.h"
#include "CronTable.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(const QString& text, CronTableKind kind, const QDateTime& after)
{
    const QList<CronEntry> entries = parseCronTable(text, kind);
    const qsizetype lines = text.count(u'\n') + 1;
    qsizetype previousLine = 0;
    for (const CronEntry& entry : entries) {
        if (entry.line <= previousLine || entry.line > lines)
            __builtin_trap();
        previousLine = entry.line;
        if (entry.command.trimmed().isEmpty() || entry.command.contains(u'\n'))
            __builtin_trap();
        if ((kind == CronTableKind::system) == entry.user.isEmpty())
            __builtin_trap();
        if (entry.atReboot && entry.fields)
            __builtin_trap();
        if (cronScheduleWords(entry).isEmpty() || cronCommandName(entry.command).isEmpty())
            __builtin_trap();
        const CronCommand command = CronCommand::fromWritten(entry.command);
        if (command.shellCommand.size() + command.input.size() > entry.command.size())
            __builtin_trap();
        if (!entry.fields)
            continue;
        if (const auto schedule = entry.fields->schedule()) {
            const auto next = schedule->nextRun(after);
            if (next && *next <= after)
                __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QDateTime after(QDate(2026, 12, 7), QTime(10, 30));
    check(text, CronTableKind::user, after);
    check(text, CronTableKind::system, after);
    return 0;
}

#include "LaunchctlParsing.h"
#include "LaunchdScheduleRules.h"
#include "ScheduleWords.h"

namespace LaunchctlManager {

using PlistValues::VariantView;

std::optional<QString> scheduleDescription(const QVariantMap& plist)
{
    return ScheduleRules::scheduleOf(VariantView(plist));
}

QString describeCalendarEntry(const QVariantMap& entry)
{
    QString text;
    ScheduleRules::appendCalendarEntry(text, VariantView(entry));
    return text;
}

QString humanInterval(qint64 seconds)
{
    return ScheduleWords::duration(seconds);
}

std::optional<QDateTime> nextCalendarRun(const QList<CalendarSchedule>& calendar,
                                         const QDateTime& after)
{
    std::optional<QDateTime> earliest;
    for (const CalendarSchedule& entry : calendar) {
        const std::optional<QDateTime> next = entry.nextRun(after);
        if (next && (!earliest || *next < *earliest))
            earliest = next;
    }
    return earliest;
}

} // namespace LaunchctlManager

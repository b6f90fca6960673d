#pragma once

#include <QDateTime>

#include <bitset>
#include <optional>

// A schedule of the calendar kind that launchd's calendar entries and cron's five fields both
// describe: the minutes, hours, days of the month, months and weekdays at which a job runs.
struct CalendarSchedule {
    std::bitset<60> minutes;
    std::bitset<24> hours;
    // Bits 1 to 31; bit 0 is unused.
    std::bitset<32> days;
    // Bits 1 to 12; bit 0 is unused.
    std::bitset<13> months;
    // Bit 0 is Sunday.
    std::bitset<7> weekdays;
    // Whether days and weekdays were narrowed by the user. When both were, a day matches when
    // either matches (cron's rule, which launchd shares); otherwise both must.
    bool daysRestricted = false;
    bool weekdaysRestricted = false;

    // Every minute of every day.
    static CalendarSchedule everyMinute();

    // The first minute after `after` (local time) at which the schedule runs, or nothing when
    // there is none within the next eight years (30 February, say).
    std::optional<QDateTime> nextRun(const QDateTime& after) const;

    bool operator==(const CalendarSchedule&) const = default;
};

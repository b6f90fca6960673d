#include "CalendarSchedule.h"


namespace {

// Leap days on a given weekday come back every 28 years at most, but no schedule a person
// writes looks that far ahead.
constexpr int searchDays = 8 * 366;

template <size_t N> std::optional<int> firstSetFrom(const std::bitset<N>& bits, int from)
{
    for (size_t at = static_cast<size_t>(std::max(from, 0)); at < N; ++at) {
        if (bits.test(at))
            return static_cast<int>(at);
    }
    return std::nullopt;
}

} // namespace

CalendarSchedule CalendarSchedule::everyMinute()
{
    CalendarSchedule schedule;
    schedule.minutes.set();
    schedule.hours.set();
    schedule.days.set();
    schedule.days.reset(0);
    schedule.months.set();
    schedule.months.reset(0);
    schedule.weekdays.set();
    return schedule;
}

std::optional<QDateTime> CalendarSchedule::nextRun(const QDateTime& after) const
{
    const QDateTime start = after.toLocalTime();
    // The minute after `after`, at its first second.
    const QDateTime first = start.addSecs(60 - start.time().second()).addMSecs(-start.time().msec());
    QDate date = first.date();
    for (int step = 0; step < searchDays; ++step, date = date.addDays(1)) {
        if (!months.test(static_cast<size_t>(date.month())))
            continue;
        const bool dayMatches = days.test(static_cast<size_t>(date.day()));
        const bool weekdayMatches = weekdays.test(static_cast<size_t>(date.dayOfWeek() % 7));
        const bool matches = daysRestricted && weekdaysRestricted ? dayMatches || weekdayMatches
                                                                  : dayMatches && weekdayMatches;
        if (!matches)
            continue;
        // On the first day, only times from `first` on; on later days, from midnight.
        const bool today = date == first.date();
        for (int hour = today ? first.time().hour() : 0; hour < 24; ++hour) {
            if (!hours.test(static_cast<size_t>(hour)))
                continue;
            const bool thisHour = today && hour == first.time().hour();
            const auto minute = firstSetFrom(minutes, thisHour ? first.time().minute() : 0);
            if (!minute)
                continue;
            const QDateTime candidate(date, QTime(hour, *minute));
            // A time that the clocks skip when summer time begins is moved past the gap; it
            // still counts when it does not fall before `first`.
            if (candidate.isValid() && candidate >= first)
                return candidate;
        }
    }
    return std::nullopt;
}

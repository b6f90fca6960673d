#include "CalendarSchedule.h"

#include "Printing.h"

#include <gtest/gtest.h>

namespace {

QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

CalendarSchedule daily(int hour, int minute)
{
    CalendarSchedule s = CalendarSchedule::everyMinute();
    s.hours.reset();
    s.hours.set(hour);
    s.minutes.reset();
    s.minutes.set(minute);
    return s;
}

} // namespace

TEST(CalendarSchedule, FindsTheNextMinuteAcrossDayMonthAndYearEnds)
{
    // Local times throughout, in whatever zone the machine is.
    const CalendarSchedule atQuarterPastThree = daily(3, 15);
    EXPECT_EQ(atQuarterPastThree.nextRun(at("2026-12-07T01:00:00")), at("2026-12-07T03:15:00"));
    EXPECT_EQ(atQuarterPastThree.nextRun(at("2026-12-07T03:15:00")), at("2026-12-08T03:15:00"))
        << "strictly after: the minute that is running now does not count";
    EXPECT_EQ(atQuarterPastThree.nextRun(at("2026-12-31T23:59:30")), at("2027-01-01T03:15:00"));

    CalendarSchedule everyMinute = CalendarSchedule::everyMinute();
    EXPECT_EQ(everyMinute.nextRun(at("2026-02-28T23:59:59")), at("2026-03-01T00:00:00"));

    CalendarSchedule christmas = daily(8, 0);
    christmas.months.reset();
    christmas.months.set(12);
    christmas.days.reset();
    christmas.days.set(25);
    christmas.daysRestricted = true;
    EXPECT_EQ(christmas.nextRun(at("2026-12-25T08:00:00")), at("2027-12-25T08:00:00"));

    CalendarSchedule leapDay = daily(0, 0);
    leapDay.months.reset();
    leapDay.months.set(2);
    leapDay.days.reset();
    leapDay.days.set(29);
    leapDay.daysRestricted = true;
    EXPECT_EQ(leapDay.nextRun(at("2026-03-01T00:00:00")), at("2028-02-29T00:00:00"));
    leapDay.days.reset();
    leapDay.days.set(30);
    EXPECT_EQ(leapDay.nextRun(at("2026-03-01T00:00:00")), std::nullopt) << "30 February never comes";
}

TEST(CalendarSchedule, DayOfMonthAndWeekdayMatchWhenEitherDoesIfBothAreNarrowed)
{
    // 09:00 on the 13th and on Fridays; 2026-12-07 is a Monday.
    CalendarSchedule s = daily(9, 0);
    s.days.reset();
    s.days.set(13);
    s.weekdays.reset();
    s.weekdays.set(5);
    s.daysRestricted = s.weekdaysRestricted = true;
    EXPECT_EQ(s.nextRun(at("2026-12-07T10:00:00")), at("2026-12-11T09:00:00"));
    EXPECT_EQ(s.nextRun(at("2026-12-11T10:00:00")), at("2026-12-13T09:00:00"));

    // Weekdays alone: Monday to Friday.
    CalendarSchedule workdays = daily(9, 0);
    workdays.weekdays.reset();
    for (int day = 1; day <= 5; ++day)
        workdays.weekdays.set(day);
    workdays.weekdaysRestricted = true;
    EXPECT_EQ(workdays.nextRun(at("2026-12-11T09:30:00")), at("2026-12-14T09:00:00"));
}

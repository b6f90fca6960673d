#pragma once

// How a launchd definition's schedule keys become words and calendar schedules, over either view
// of PlistValues.h. Inner part of the launchd source; not part of the library's public face.

#include "CalendarSchedule.h"
#include "PlistValues.h"
#include "ScheduleWords.h"

#include <QList>
#include <QString>

#include <array>
#include <charconv>
#include <optional>
#include <vector>

namespace LaunchctlManager::ScheduleRules {

using PlistValues::integerAt;

// Numbers are written straight into the text being built: schedules are made for every file of
// every listing.
inline void appendNumber(QString& text, qint64 value)
{
    std::array<char, 24> digits{};
    const char* const end = std::to_chars(digits.begin(), digits.end(), value).ptr;
    text += QLatin1StringView(digits.data(), end - digits.data());
}

// printf's "%02d": at least two characters, zero-padded (so 5 gives 05 and -5 stays -5).
inline void appendTwoDigits(QString& text, qint64 value)
{
    if (value >= 0 && value < 10)
        text += u'0';
    appendNumber(text, value);
}

template <typename View> void appendCalendarEntry(QString& text, const View& entry)
{
    const std::optional<qint64> weekday = integerAt(entry, "Weekday");
    const std::optional<qint64> day = integerAt(entry, "Day");
    const std::optional<qint64> month = integerAt(entry, "Month");
    const std::optional<qint64> hour = integerAt(entry, "Hour");
    const std::optional<qint64> minute = integerAt(entry, "Minute");

    const qsizetype begin = text.size();
    if (month && day) {
        text += u"每年";
        appendNumber(text, *month);
        text += u'月';
        appendNumber(text, *day);
        text += u"日 ";
    } else if (weekday) {
        text += ScheduleWords::weekday(*weekday);
        text += u' ';
    } else if (day) {
        text += u"每月 ";
        appendNumber(text, *day);
        text += u" 日 ";
    } else {
        text += u"每天 ";
    }

    if (hour) {
        appendTwoDigits(text, *hour);
        text += u':';
        appendTwoDigits(text, minute.value_or(0));
    } else if (minute) {
        text += u"每小时第 ";
        appendNumber(text, *minute);
        text += u" 分";
    } else {
        text += u"（每分钟）";
    }

    // Spaces and tabs are trimmed from both ends of what this entry added.
    const auto blank = [&](qsizetype i) { return text[i] == u' ' || text[i] == u'\t'; };
    qsizetype end = text.size();
    while (end > begin && blank(end - 1))
        --end;
    text.truncate(end);
    qsizetype first = begin;
    while (first < end && blank(first))
        ++first;
    text.remove(begin, first - begin);
}

// The calendar entries of a definition: one dictionary, or an array that holds nothing else.
template <typename View> std::vector<View> calendarEntriesOf(const View& plist)
{
    std::vector<View> entries;
    const std::optional<View> calendar = plist.value("StartCalendarInterval");
    if (!calendar)
        return entries;
    if (calendar->isDictionary()) {
        entries.push_back(*calendar);
    } else if (calendar->isArray()) {
        for (qsizetype i = 0; i < calendar->size(); ++i)
            entries.push_back(calendar->at(i));
        if (!std::all_of(entries.begin(), entries.end(),
                         [](const View& entry) { return entry.isDictionary(); }))
            entries.clear();
    }
    return entries;
}

// A calendar schedule wins over an interval.
template <typename View> std::optional<QString> scheduleOf(const View& plist)
{
    const std::vector<View> entries = calendarEntriesOf(plist);
    QString descriptions;
    descriptions.reserve(16 * static_cast<qsizetype>(entries.size()));
    for (const View& entry : entries) {
        const qsizetype mark = descriptions.size();
        if (mark > 0)
            descriptions += u'；';
        const qsizetype begin = descriptions.size();
        appendCalendarEntry(descriptions, entry);
        if (descriptions.size() == begin) // an empty description is dropped
            descriptions.truncate(mark);
    }
    if (!descriptions.isEmpty())
        return descriptions;
    if (const std::optional<qint64> seconds = integerAt(plist, "StartInterval"))
        return *seconds >= 1
                   ? std::optional(QStringLiteral("每隔 ") + ScheduleWords::duration(*seconds))
                   : std::nullopt;
    return std::nullopt;
}

// One calendar entry as launchd runs it: a missing key matches every value, a day of the month
// and a weekday both given match when either does, and a value out of its range matches
// nothing, so that the entry never runs.
template <typename View> std::optional<CalendarSchedule> calendarScheduleOf(const View& entry)
{
    CalendarSchedule schedule = CalendarSchedule::everyMinute();
    bool possible = true;
    const auto narrow = [&](auto& bits, const char* key, qint64 low, qint64 high) {
        const std::optional<qint64> value = integerAt(entry, key);
        if (!value)
            return false;
        bits.reset();
        if (*value >= low && *value <= high)
            bits.set(static_cast<std::size_t>(*value));
        else
            possible = false;
        return true;
    };
    narrow(schedule.minutes, "Minute", 0, 59);
    narrow(schedule.hours, "Hour", 0, 23);
    schedule.daysRestricted = narrow(schedule.days, "Day", 1, 31);
    narrow(schedule.months, "Month", 1, 12);
    // 7 is Sunday as well as 0.
    if (const std::optional<qint64> weekday = integerAt(entry, "Weekday")) {
        schedule.weekdays.reset();
        schedule.weekdaysRestricted = true;
        if (*weekday >= 0 && *weekday <= 7)
            schedule.weekdays.set(static_cast<std::size_t>(*weekday % 7));
        else
            possible = false;
    }
    if (!possible)
        return std::nullopt;
    return schedule;
}

// The calendar entries that the schedule's words describe; none when the words come from an
// interval or there are none.
template <typename View> QList<CalendarSchedule> calendarOf(const View& plist)
{
    QList<CalendarSchedule> schedules;
    for (const View& entry : calendarEntriesOf(plist)) {
        if (std::optional<CalendarSchedule> schedule = calendarScheduleOf(entry))
            schedules.append(*schedule);
    }
    return schedules;
}

} // namespace LaunchctlManager::ScheduleRules

#pragma once

#include <QString>

// The pieces every scheduler's schedule is described with, so that all of them read alike.
namespace ScheduleWords {

// A span of whole seconds in the largest unit that divides it: "1 天", "25 小时", "5 分钟",
// "90 秒".
QString duration(qint64 seconds);

// "周日" for 0 through "周六" for 6, and 7 again for Sunday; "周" and the number for any other.
QString weekday(qint64 day);

} // namespace ScheduleWords

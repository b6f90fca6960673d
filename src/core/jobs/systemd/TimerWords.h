#pragma once

#include "SystemdUnits.h"

#include <QString>

#include <optional>

// A timer's triggers in words, in the phrases launchd's schedules use.
namespace TimerWords {

// One OnCalendar expression as the manager normalises it ("Mon..Fri *-*-* 09:00:00"): "周一至周五
// 09:00". Shapes without words of their own come back exactly as given.
QString calendar(const QString& expression);

// One monotonic trigger: "每隔 2 小时", "开机后 15 分钟", ...
QString monotonic(const MonotonicTrigger& trigger);

// Every trigger of the timer, calendar ones first, joined with "；"; nothing when it has none.
std::optional<QString> schedule(const TimerUnit& timer);

} // namespace TimerWords

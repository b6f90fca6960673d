#pragma once

#include "CronTable.h"

#include <QString>

// When an entry runs, in words: "每隔 5 分钟", "每天 03:15", "周一至周五 09:00", "每小时第 30 分",
// "每月 1 日 00:00", "每年12月25日 08:00", "开机时"; shorthands such as "@daily" as the fields
// they stand for. Any other timing (lists, ranges of days, steps in hours, names) is shown as
// written.
QString cronScheduleWords(const CronEntry& entry);

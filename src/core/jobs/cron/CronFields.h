#pragma once

#include "CalendarSchedule.h"

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The five time and date fields of a cron entry, as written: minute, hour, day of the month,
// month and day of the week.
struct CronFields {
    enum Field { minute, hour, day, month, weekday };

    std::array<QString, 5> texts;

    // The times they stand for, or nothing when a field is not one cron reads: numbers within
    // range, three-letter month and weekday names in any case, "*", ranges, lists, and steps after
    // "*" or a range. A reversed range ("5-1") selects nothing, so no time ever matches it.
    std::optional<CalendarSchedule> schedule() const;

    // The fields that a shorthand such as "@daily" stands for; nothing for "@reboot" and for words
    // cron does not know.
    static std::optional<CronFields> forShorthand(QStringView word);

    // A field's plain decimal number from lowest to highest, leading zeros allowed.
    static std::optional<int> number(QStringView text, int lowest, int highest);

    bool operator==(const CronFields&) const = default;
};

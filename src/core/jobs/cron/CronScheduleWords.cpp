#include "CronScheduleWords.h"

namespace {

QString weekdayName(int day)
{
    static const std::array<const char16_t*, 7> names{u"周日", u"周一", u"周二", u"周三",
                                                      u"周四", u"周五", u"周六"};
    return QString::fromUtf16(names[static_cast<size_t>(day % 7)]);
}

// "周一" for "1", "周一至周五" for "1-5".
std::optional<QString> weekdays(const QString& text)
{
    if (const auto day = CronFields::number(text, 0, 7))
        return weekdayName(*day);
    const qsizetype dash = text.indexOf(u'-');
    if (dash < 0)
        return std::nullopt;
    const auto first = CronFields::number(text.first(dash), 0, 7);
    const auto last = CronFields::number(text.sliced(dash + 1), 0, 7);
    if (!first || !last || *first >= *last)
        return std::nullopt;
    return weekdayName(*first) + QStringLiteral("至") + weekdayName(*last);
}

QString clock(int hour, int minute)
{
    return QStringLiteral("%1:%2")
        .arg(hour, 2, 10, QLatin1Char('0'))
        .arg(minute, 2, 10, QLatin1Char('0'));
}

std::optional<QString> phrase(const CronFields& fields)
{
    const auto& [minuteText, hourText, dayText, monthText, weekdayText] = fields.texts;
    const bool anyHour = hourText == u"*";
    const bool anyDay = dayText == u"*";
    const bool anyMonth = monthText == u"*";
    const bool anyWeekday = weekdayText == u"*";
    const auto minute = CronFields::number(minuteText, 0, 59);
    const auto hour = CronFields::number(hourText, 0, 23);

    if (anyHour && anyDay && anyMonth && anyWeekday) {
        if (minute)
            return QStringLiteral("每小时第 %1 分").arg(*minute);
        // Only a step that divides the hour keeps its gaps equal across the full hour.
        if (minuteText.startsWith(u"*/")) {
            if (const auto step = CronFields::number(minuteText.sliced(2), 1, 30);
                step && 60 % *step == 0)
                return QStringLiteral("每隔 %1 分钟").arg(*step);
        }
        return std::nullopt;
    }
    if (!minute || !hour)
        return std::nullopt;
    const QString at = clock(*hour, *minute);
    if (anyDay && anyMonth && anyWeekday)
        return QStringLiteral("每天 ") + at;
    if (anyDay && anyMonth) {
        if (const auto days = weekdays(weekdayText))
            return *days + u' ' + at;
        return std::nullopt;
    }
    const auto day = CronFields::number(dayText, 1, 31);
    if (!day || !anyWeekday)
        return std::nullopt;
    if (anyMonth)
        return QStringLiteral("每月 %1 日 ").arg(*day) + at;
    if (const auto month = CronFields::number(monthText, 1, 12))
        return QStringLiteral("每年%1月%2日 ").arg(*month).arg(*day) + at;
    return std::nullopt;
}

} // namespace

QString cronScheduleWords(const CronEntry& entry)
{
    if (entry.atReboot)
        return QStringLiteral("开机时");
    if (entry.fields) {
        if (auto words = phrase(*entry.fields))
            return *words;
    }
    return entry.timing;
}

#include "ScheduleWords.h"

#include <array>
#include <string_view>

namespace ScheduleWords {

QString duration(qint64 seconds)
{
    if (seconds == 0)
        return QStringLiteral("0 秒");
    if (seconds % 86400 == 0)
        return QString::number(seconds / 86400) + QStringLiteral(" 天");
    if (seconds % 3600 == 0)
        return QString::number(seconds / 3600) + QStringLiteral(" 小时");
    if (seconds % 60 == 0)
        return QString::number(seconds / 60) + QStringLiteral(" 分钟");
    return QString::number(seconds) + QStringLiteral(" 秒");
}

QString weekday(qint64 day)
{
    static constexpr std::array<std::u16string_view, 8> names{u"周日", u"周一", u"周二", u"周三",
                                                              u"周四", u"周五", u"周六", u"周日"};
    if (day >= 0 && day < static_cast<qint64>(names.size()))
        return QStringView(names[static_cast<std::size_t>(day)]).toString();
    return QStringLiteral("周") + QString::number(day);
}

} // namespace ScheduleWords

#include "TimerWords.h"

#include "Numbers.h"
#include "ScheduleWords.h"

#include <QStringList>

#include <array>

namespace TimerWords {

namespace {

// A field of the expression that names one value or several, each written out; `low` is 0 or
// more.
std::optional<QList<int>> values(QStringView field, int low, int high)
{
    QList<int> result;
    for (const QStringView part : field.split(u',')) {
        const std::optional<quint32> value = parseUInt32Strict(part);
        if (!value || *value < quint32(low) || *value > quint32(high))
            return std::nullopt;
        result.append(int(*value));
    }
    return result;
}

std::optional<int> single(QStringView field, int low, int high)
{
    const std::optional<QList<int>> all = values(field, low, high);
    if (!all || all->size() != 1)
        return std::nullopt;
    return all->constFirst();
}

// "00/5": from 0, every 5, when 5 divides the whole cycle so that the gap never changes.
std::optional<int> everyFromZero(QStringView field, int cycle)
{
    if (!field.startsWith(u"00/"))
        return std::nullopt;
    const std::optional<int> step = single(field.sliced(3), 1, cycle - 1);
    if (!step || cycle % *step != 0)
        return std::nullopt;
    return step;
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

std::optional<int> weekdayNumber(QStringView name)
{
    static constexpr std::array<std::u16string_view, 7> names{u"Sun", u"Mon", u"Tue", u"Wed",
                                                              u"Thu", u"Fri", u"Sat"};
    for (std::size_t day = 0; day < names.size(); ++day) {
        if (name == QStringView(names[day]))
            return static_cast<int>(day);
    }
    return std::nullopt;
}

// "Mon" 周一; "Mon..Fri" 周一至周五; "Sat,Sun" 周六、周日.
std::optional<QString> weekdays(QStringView field)
{
    if (const qsizetype dots = field.indexOf(u".."); dots >= 0) {
        const std::optional<int> first = weekdayNumber(field.first(dots));
        const std::optional<int> last = weekdayNumber(field.sliced(dots + 2));
        if (!first || !last)
            return std::nullopt;
        return ScheduleWords::weekday(*first) + QStringLiteral("至") +
               ScheduleWords::weekday(*last);
    }
    QStringList names;
    for (const QStringView part : field.split(u',')) {
        const std::optional<int> day = weekdayNumber(part);
        if (!day)
            return std::nullopt;
        names.append(ScheduleWords::weekday(*day));
    }
    return names.join(QStringLiteral("、"));
}

// The time of day, when it repeats within the day: every minute, every n minutes, once an
// hour, every n hours.
std::optional<QString> repeatingTime(QStringView hour, QStringView minute)
{
    if (hour == u"*" && minute == u"*")
        return QStringLiteral("每分钟");
    if (hour == u"*") {
        if (const std::optional<int> step = everyFromZero(minute, 60))
            return QStringLiteral("每隔 ") + ScheduleWords::duration(qint64(*step) * 60);
        if (const std::optional<int> at = single(minute, 0, 59))
            return QStringLiteral("每小时第 ") + QString::number(*at) + QStringLiteral(" 分");
        return std::nullopt;
    }
    if (minute == u"00") {
        if (const std::optional<int> step = everyFromZero(hour, 24))
            return QStringLiteral("每隔 ") + ScheduleWords::duration(qint64(*step) * 3600);
    }
    return std::nullopt;
}

// Fixed times of day: "09,21:00" gives 09:00 and 21:00.
std::optional<QStringList> fixedTimes(QStringView hour, QStringView minute)
{
    const std::optional<QList<int>> hours = values(hour, 0, 23);
    const std::optional<int> at = single(minute, 0, 59);
    if (!hours || !at)
        return std::nullopt;
    QStringList times;
    for (const int h : *hours)
        times.append(twoDigits(h) + u':' + twoDigits(*at));
    return times;
}

std::optional<QString> describe(const QString& expression)
{
    QList<QStringView> parts = QStringView(expression).split(u' ');
    std::optional<QString> days;
    if (parts.size() == 3) {
        days = weekdays(parts.takeFirst());
        if (!days)
            return std::nullopt;
    }
    if (parts.size() != 2)
        return std::nullopt;
    const QList<QStringView> date = parts[0].split(u'-');
    const QList<QStringView> time = parts[1].split(u':');
    if (date.size() != 3 || time.size() != 3 || time[2] != u"00")
        return std::nullopt;
    const QStringView year = date[0], month = date[1], day = date[2];
    const QStringView hour = time[0], minute = time[1];

    // Every day: the only shape in which a time may repeat within the day.
    if (!days && year == u"*" && month == u"*" && day == u"*") {
        if (const std::optional<QString> repeating = repeatingTime(hour, minute))
            return repeating;
    }
    const std::optional<QStringList> times = fixedTimes(hour, minute);
    if (!times)
        return std::nullopt;

    QString prefix;
    if (days) {
        if (year != u"*" || month != u"*" || day != u"*")
            return std::nullopt;
        prefix = *days;
    } else if (year == u"*" && month == u"*" && day == u"*") {
        prefix = QStringLiteral("每天");
    } else if (year == u"*" && month == u"*") {
        const std::optional<int> d = single(day, 1, 31);
        if (!d)
            return std::nullopt;
        prefix = QStringLiteral("每月 ") + QString::number(*d) + QStringLiteral(" 日");
    } else if (year == u"*") {
        const std::optional<int> m = single(month, 1, 12);
        const std::optional<int> d = single(day, 1, 31);
        if (!m || !d)
            return std::nullopt;
        prefix = QStringLiteral("每年") + QString::number(*m) + u'月' + QString::number(*d) + u'日';
    } else {
        // One day of one year, once.
        if (!single(year, 1970, 9999) || !single(month, 1, 12) || !single(day, 1, 31) ||
            times->size() != 1)
            return std::nullopt;
        return parts[0].toString() + u' ' + times->constFirst() + QStringLiteral("（仅一次）");
    }
    QStringList entries;
    for (const QString& at : *times)
        entries.append(prefix + u' ' + at);
    return entries.join(u'；');
}

QString durationOf(quint64 microseconds)
{
    if (microseconds % 1000000 == 0)
        return ScheduleWords::duration(static_cast<qint64>(microseconds / 1000000));
    return QString::number(static_cast<double>(microseconds) / 1e6) + QStringLiteral(" 秒");
}

} // namespace

QString calendar(const QString& expression)
{
    return describe(expression).value_or(expression);
}

QString monotonic(const MonotonicTrigger& trigger)
{
    static const QHash<QString, QString> prefixes = {
        {QStringLiteral("OnUnitActiveUSec"), QStringLiteral("每隔 ")},
        {QStringLiteral("OnUnitInactiveUSec"), QStringLiteral("每次结束后隔 ")},
        {QStringLiteral("OnBootUSec"), QStringLiteral("开机后 ")},
        {QStringLiteral("OnStartupUSec"), QStringLiteral("启动后 ")},
        {QStringLiteral("OnActiveUSec"), QStringLiteral("激活后 ")},
    };
    const auto prefix = prefixes.constFind(trigger.base);
    return (prefix != prefixes.constEnd() ? *prefix : trigger.base + u' ') +
           durationOf(trigger.offsetUSec);
}

std::optional<QString> schedule(const TimerUnit& timer)
{
    QStringList parts;
    for (const QString& expression : timer.calendar)
        parts.append(calendar(expression));
    for (const MonotonicTrigger& trigger : timer.monotonic)
        parts.append(monotonic(trigger));
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(u'；');
}

} // namespace TimerWords

#include "CronFields.h"

#include <QStringList>

#include <bitset>

namespace {

struct FieldRange {
    int lowest;
    int highest;
    // The names that stand for lowest, lowest + 1, ..., or none.
    std::array<const char*, 12> names;
    int nameCount;
};

// Weekdays run to 7, which is Sunday again.
constexpr std::array<FieldRange, 5> ranges{{
    {0, 59, {}, 0},
    {0, 23, {}, 0},
    {1, 31, {}, 0},
    {1,
     12,
     {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"},
     12},
    {0, 7, {"sun", "mon", "tue", "wed", "thu", "fri", "sat"}, 7},
}};

using Selection = std::bitset<64>;

std::optional<int> value(QStringView text, const FieldRange& range)
{
    if (const auto n = CronFields::number(text, range.lowest, range.highest))
        return n;
    for (int i = 0; i < range.nameCount; ++i) {
        if (text.compare(QLatin1StringView(range.names[static_cast<size_t>(i)]),
                         Qt::CaseInsensitive) == 0) {
            return range.lowest + i;
        }
    }
    return std::nullopt;
}

// One item of a list: "*", "5", "mon", "1-5", each of the first and last with an optional
// "/step".
bool addItem(QStringView item, const FieldRange& range, Selection& selection)
{
    int step = 1;
    const qsizetype slash = item.indexOf(u'/');
    QStringView base = item;
    if (slash >= 0) {
        // Large steps simply select the first value; the cap keeps the count in range.
        const auto parsed = CronFields::number(item.sliced(slash + 1), 1, 1000);
        if (!parsed)
            return false;
        step = *parsed;
        base = item.first(slash);
    }
    int low = 0;
    int high = 0;
    if (base == u"*") {
        low = range.lowest;
        high = range.highest;
    } else if (const qsizetype dash = base.indexOf(u'-'); dash >= 0) {
        const auto first = value(base.first(dash), range);
        const auto last = value(base.sliced(dash + 1), range);
        if (!first || !last)
            return false;
        low = *first;
        high = *last;
    } else {
        // A step needs something to step through.
        const auto single = value(base, range);
        if (!single || slash >= 0)
            return false;
        low = high = *single;
    }
    for (int at = low; at <= high; at += step)
        selection.set(static_cast<size_t>(at));
    return true;
}

std::optional<Selection> parseField(QStringView text, const FieldRange& range)
{
    Selection selection;
    for (QStringView item : text.tokenize(u',')) {
        if (!addItem(item, range, selection))
            return std::nullopt;
    }
    return selection;
}

template <size_t N> void copyInto(const Selection& selection, std::bitset<N>& into)
{
    into.reset();
    for (size_t at = 0; at < N; ++at)
        into.set(at, selection.test(at));
}

} // namespace

std::optional<CalendarSchedule> CronFields::schedule() const
{
    std::array<Selection, 5> selections;
    for (size_t field = 0; field < texts.size(); ++field) {
        const auto parsed = parseField(texts[field], ranges[field]);
        if (!parsed)
            return std::nullopt;
        selections[field] = *parsed;
    }
    if (selections[weekday].test(7))
        selections[weekday].set(0);

    CalendarSchedule schedule;
    copyInto(selections[minute], schedule.minutes);
    copyInto(selections[hour], schedule.hours);
    copyInto(selections[day], schedule.days);
    copyInto(selections[month], schedule.months);
    copyInto(selections[weekday], schedule.weekdays);
    // Any field that begins with "*" counts as not narrowed, "*/2" too: a day then has to match
    // both fields, as cron does it.
    schedule.daysRestricted = !texts[day].startsWith(u'*');
    schedule.weekdaysRestricted = !texts[weekday].startsWith(u'*');
    return schedule;
}

std::optional<int> CronFields::number(QStringView text, int lowest, int highest)
{
    if (text.isEmpty())
        return std::nullopt;
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > highest)
            return std::nullopt;
    }
    return value >= lowest ? std::optional(value) : std::nullopt;
}

std::optional<CronFields> CronFields::forShorthand(QStringView word)
{
    struct Shorthand {
        const char* word;
        std::array<const char*, 5> fields;
    };
    static constexpr std::array<Shorthand, 7> shorthands{{
        {"@hourly", {"0", "*", "*", "*", "*"}},
        {"@daily", {"0", "0", "*", "*", "*"}},
        {"@midnight", {"0", "0", "*", "*", "*"}},
        {"@weekly", {"0", "0", "*", "*", "0"}},
        {"@monthly", {"0", "0", "1", "*", "*"}},
        {"@yearly", {"0", "0", "1", "1", "*"}},
        {"@annually", {"0", "0", "1", "1", "*"}},
    }};
    for (const Shorthand& shorthand : shorthands) {
        if (word != QLatin1StringView(shorthand.word))
            continue;
        CronFields fields;
        for (size_t at = 0; at < fields.texts.size(); ++at)
            fields.texts[at] = QString::fromLatin1(shorthand.fields[at]);
        return fields;
    }
    return std::nullopt;
}

#include "ProcParsing.h"

#include <limits>

namespace Platform::detail {
namespace {

template <typename T> std::optional<T> parseDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return std::nullopt;
    T value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const T digit = static_cast<T>(c - '0');
        if (value > (std::numeric_limits<T>::max() - digit) / 10)
            return std::nullopt;
        value = static_cast<T>(value * 10 + digit);
    }
    return value;
}

// The space-separated field `index` (0 = the first) of `text`.
QByteArrayView field(QByteArrayView text, int index)
{
    qsizetype at = 0;
    for (int i = 0; i < index; ++i) {
        at = text.indexOf(' ', at);
        if (at < 0)
            return {};
        ++at;
    }
    const qsizetype end = text.indexOf(' ', at);
    return text.sliced(at, (end < 0 ? text.size() : end) - at);
}

// Calls fn(part) for each part of `text` that `separator` ends (the last part may lack it).
template <typename Fn> void forEachPart(QByteArrayView text, char separator, Fn&& fn)
{
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf(separator, start);
        if (end < 0)
            end = text.size();
        fn(text.sliced(start, end - start));
        start = end + 1;
    }
}

} // namespace

std::optional<StatFields> parseStat(QByteArrayView stat)
{
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open || close + 2 > stat.size())
        return std::nullopt;
    // After ") ": state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt utime
    // stime cutime cstime priority nice num_threads itrealvalue starttime.
    const QByteArrayView rest = stat.sliced(close + 2);
    const auto parent = parseDigits<qint32>(field(rest, 1));
    const auto start = parseDigits<quint64>(field(rest, 19));
    if (!parent || !start)
        return std::nullopt;
    return StatFields{stat.sliced(open + 1, close - open - 1).toByteArray(), *parent, *start};
}

QByteArrayList splitCommandLine(QByteArrayView cmdline)
{
    QByteArrayList arguments;
    forEachPart(cmdline, '\0',
                [&](QByteArrayView argument) { arguments.append(argument.toByteArray()); });
    return arguments;
}

std::optional<quint64> socketInodeOfLink(QByteArrayView target)
{
    static constexpr QByteArrayView prefix = "socket:[";
    if (!target.startsWith(prefix) || !target.endsWith(']'))
        return std::nullopt;
    return parseDigits<quint64>(target.sliced(prefix.size(), target.size() - prefix.size() - 1));
}

std::optional<quint32> effectiveUidFromStatus(QByteArrayView status)
{
    static constexpr QByteArrayView label = "\nUid:";
    const qsizetype at = status.indexOf(label);
    if (at < 0)
        return std::nullopt;
    qsizetype end = status.indexOf('\n', at + 1);
    if (end < 0)
        end = status.size();
    // "Uid:\treal\teffective\tsaved\tfilesystem"
    const QByteArrayList ids = status.sliced(at + label.size(), end - at - label.size())
                                   .toByteArray()
                                   .simplified()
                                   .split(' ');
    return ids.size() >= 2 ? parseDigits<quint32>(ids.at(1)) : std::nullopt;
}

QString unitCgroupPath(QByteArrayView cgroupFile)
{
    QByteArrayView unified;
    QByteArrayView systemd;
    forEachPart(cgroupFile, '\n', [&](QByteArrayView line) {
        if (line.startsWith("0::"))
            unified = line.sliced(3);
        else if (const qsizetype at = line.indexOf(":name=systemd:"); at > 0)
            systemd = line.sliced(at + 14);
    });
    const QByteArrayView path = unified.isEmpty() || unified == "/" ? systemd : unified;
    return QString::fromUtf8(path.isEmpty() ? unified : path);
}

} // namespace Platform::detail

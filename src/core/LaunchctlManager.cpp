#include "LaunchctlManager.h"

#include "LaunchctlParsing.h"
#include "Numbers.h"
#include "ProcessRunner.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LaunchctlManager {

namespace {

// ---- Reading property lists ----------------------------------------------------------------

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// No rule looks deeper than a calendar entry's values (three levels below the top); containers
// further down are kept as empty containers of the same kind, which keeps every type test true
// while bounding the work on hostile files.
constexpr int maxConvertedDepth = 8;

// The only keys any rule reads, at the top level or in a calendar entry.
constexpr const char* knownKeys[] = {"Label",         "ProgramArguments",
                                     "Program",       "StartCalendarInterval",
                                     "StartInterval", "Weekday",
                                     "Day",           "Month",
                                     "Hour",          "Minute"};

// The entries of a dictionary under a known key, in file order, or nothing when a key is not
// text. The binary decoder accepts any object as a key, and the library's accessor for a key's
// text aborts on keys holding a NUL character, so keys are only type-checked and compared (as
// text up to any NUL), never read out.
std::optional<std::vector<std::pair<QString, plist_t>>> dictionaryEntries(plist_t dict)
{
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    if (!iter)
        return std::nullopt;
    std::vector<std::pair<QString, plist_t>> entries;
    bool textKeys = true;
    for (;;) {
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, nullptr, &value);
        if (!value)
            break;
        const plist_t keyNode = plist_dict_item_get_key(value);
        if (!keyNode || plist_get_node_type(keyNode) != PLIST_KEY) {
            textKeys = false;
            break;
        }
        for (const char* known : knownKeys) {
            if (plist_key_val_compare(keyNode, known) == 0) {
                entries.emplace_back(QString::fromLatin1(known), value);
                break;
            }
        }
    }
    std::free(iter);
    if (!textKeys)
        return std::nullopt;
    return entries;
}

// A dictionary whose keys are not all text comes back as a value of no type the rules read.
QVariant toVariant(plist_t node, int depth)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        // Property-list integers are signed; the library hands them out as their unsigned bits.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return QVariant(QString::fromUtf8(text, static_cast<qsizetype>(length)));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        if (depth >= maxConvertedDepth)
            return list;
        const uint32_t size = plist_array_get_size(node);
        list.reserve(size);
        for (uint32_t i = 0; i < size; ++i)
            list.append(toVariant(plist_array_get_item(node, i), depth + 1));
        return list;
    }
    case PLIST_DICT: {
        if (depth >= maxConvertedDepth)
            return QVariantMap();
        const auto entries = dictionaryEntries(node);
        if (!entries)
            break;
        QVariantMap map;
        for (const auto& [key, value] : *entries) {
            // Keep the first of duplicate keys, as a key lookup on the dictionary does.
            if (!map.contains(key))
                map.insert(key, toVariant(value, depth + 1));
        }
        return map;
    }
    case PLIST_DATA: {
        char* data = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &data, &length);
        QByteArray bytes(data, static_cast<qsizetype>(length));
        std::free(data);
        return QVariant(bytes);
    }
    case PLIST_DATE:
    case PLIST_KEY:
    case PLIST_UID:
    case PLIST_NONE:
        break;
    }
    return QVariant(QByteArray());
}

bool isText(const QVariant& value)
{
    return value.typeId() == QMetaType::QString;
}

// A property-list integer, or a real that is exactly an integer within range. Booleans are not
// numbers here.
std::optional<qint64> integerValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::UInt:
        return value.toUInt();
    case QMetaType::ULongLong: {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return static_cast<qint64>(unsignedValue);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double real = value.toDouble();
        // 2^63 is exact as a double; anything from there up does not fit a qint64.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(real) || std::trunc(real) != real || real < -limit || real >= limit)
            return std::nullopt;
        return static_cast<qint64>(real);
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> integerAt(const QVariantMap& map, const QString& key)
{
    const auto it = map.constFind(key);
    if (it == map.constEnd())
        return std::nullopt;
    return integerValue(*it);
}

std::optional<QString> programLine(const QVariantMap& plist)
{
    const auto arguments = plist.constFind(QStringLiteral("ProgramArguments"));
    if (arguments != plist.constEnd() && arguments->typeId() == QMetaType::QVariantList) {
        const QVariantList list = arguments->toList();
        if (!list.isEmpty() && std::all_of(list.begin(), list.end(), isText)) {
            QStringList parts;
            parts.reserve(list.size());
            for (const QVariant& part : list)
                parts.append(part.toString());
            return parts.join(u' ');
        }
    }
    const auto program = plist.constFind(QStringLiteral("Program"));
    if (program != plist.constEnd() && isText(*program))
        return program->toString();
    return std::nullopt;
}

// ---- Reading folders -----------------------------------------------------------------------

// Every entry name of a folder, hidden ones included, sorted by name so that which of two files
// wins does not depend on the file system's order. An unlistable folder gives no names.
QStringList folderEntries(const QString& folder)
{
    QDir dir(folder);
    QStringList names = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::sort(names.begin(), names.end());
    return names;
}

// ---- Actions -------------------------------------------------------------------------------

ProcessRunner::Result launchctl(const QStringList& arguments)
{
    return ProcessRunner::run(Platform::launchctlPath(), arguments);
}

QString userDomainTarget()
{
    return QStringLiteral("gui/") + QString::number(Platform::realUserId());
}

QString serviceTarget(const LaunchdJob& job)
{
    return userDomainTarget() + u'/' + job.label;
}

ActionResult succeeded()
{
    return ActionResult{true, QString()};
}

ActionResult fail(const QString& text)
{
    QString message = text.trimmed();
    if (message.isEmpty())
        message = QStringLiteral("操作失败（可能需要管理员权限）。");
    return ActionResult{false, message};
}

// The first run's error output wins whenever there is any, even if it is only white space.
ActionResult failBoth(const ProcessRunner::Result& first, const ProcessRunner::Result& second)
{
    return fail(!first.stdErr.isEmpty() ? first.stdErr : second.stdErr);
}

ActionResult withFallback(const QStringList& firstArguments, const QStringList& fallbackArguments)
{
    const ProcessRunner::Result first = launchctl(firstArguments);
    if (first.status == 0)
        return succeeded();
    const ProcessRunner::Result second = launchctl(fallbackArguments);
    if (second.status == 0)
        return succeeded();
    return failBoth(first, second);
}

} // namespace

// ---- Definition files ----------------------------------------------------------------------

std::optional<QByteArray> readDefinitionFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || native.contains('\0'))
        return std::nullopt;

    // Check the type before opening: opening a FIFO or a device may block or have effects.
    struct stat info {};
    if (::stat(native.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > maxDefinitionFileSize)
        return std::nullopt;

    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    // The entry may have been swapped between the check and the open.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxDefinitionFileSize) {
        ::close(fd);
        return std::nullopt;
    }

    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(info.st_size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            // The file grew while being read; never take in more than the bound.
            if (bytes.size() > maxDefinitionFileSize) {
                ::close(fd);
                return std::nullopt;
            }
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, maxDefinitionFileSize + 1));
        }
        const ssize_t count = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        filled += count;
    }
    ::close(fd);
    if (filled > maxDefinitionFileSize)
        return std::nullopt;
    bytes.truncate(filled);
    return bytes;
}

PlistContents decodePlist(QByteArrayView bytes)
{
    // The decoder rejects an XML document that starts with a byte-order mark.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    if (bytes.isEmpty() || bytes.size() > maxDefinitionFileSize)
        return {};

    plist_t rootNode = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &rootNode);
    const PlistPtr root(rootNode);
    if (!root || plist_get_node_type(rootNode) != PLIST_DICT)
        return {};

    const auto entries = dictionaryEntries(rootNode);
    if (!entries)
        return {};
    QVariantMap plist;
    for (const auto& [key, value] : *entries) {
        if (!plist.contains(key))
            plist.insert(key, toVariant(value, 1));
    }

    PlistContents contents;
    const QVariant label = plist.value(QStringLiteral("Label"));
    if (isText(label))
        contents.label = label.toString();
    contents.program = programLine(plist);
    contents.schedule = scheduleDescription(plist);
    return contents;
}

PlistContents readPlist(const QString& path)
{
    const std::optional<QByteArray> bytes = readDefinitionFile(path);
    if (!bytes)
        return {};
    return decodePlist(*bytes);
}

QHash<QString, PlistInfo> discoverPlistPaths(const QStringList& folders)
{
    static const QLatin1String suffix(".plist");
    QHash<QString, PlistInfo> table;
    for (const QString& folder : folders) {
        for (const QString& name : folderEntries(folder)) {
            if (!name.endsWith(suffix))
                continue;
            const QString stem = name.chopped(suffix.size());
            const QString path = folder + u'/' + name;
            PlistContents contents = readPlist(path);
            // A declared label takes over an earlier entry; a bare file name only fills a gap.
            if (!contents.label && table.contains(stem))
                continue;
            const QString key = contents.label ? *contents.label : stem;
            table.insert(
                key, PlistInfo{path, std::move(contents.program), std::move(contents.schedule)});
        }
    }
    return table;
}

QHash<QString, PlistInfo> discoverPlistPaths()
{
    return discoverPlistPaths(Platform::launchdFolders());
}

LaunchdJob::Domain domainForLabel(const QString& label, const std::optional<QString>& path)
{
    Q_UNUSED(label);
    if (!path)
        return LaunchdJob::Domain::unknown;
    if (path->contains(QLatin1String("/LaunchDaemons")))
        return LaunchdJob::Domain::systemDaemon;
    if (path->startsWith(QLatin1String("/Library/LaunchAgents")) ||
        path->startsWith(QLatin1String("/System/Library/LaunchAgents")))
        return LaunchdJob::Domain::globalAgent;
    if (path->contains(QLatin1String("/Library/LaunchAgents")))
        return LaunchdJob::Domain::userAgent;
    return LaunchdJob::Domain::unknown;
}

// ---- Schedules -----------------------------------------------------------------------------

std::optional<QString> scheduleDescription(const QVariantMap& plist)
{
    const auto calendar = plist.constFind(QStringLiteral("StartCalendarInterval"));
    if (calendar != plist.constEnd()) {
        QVariantList entries;
        if (calendar->typeId() == QMetaType::QVariantMap) {
            entries.append(*calendar);
        } else if (calendar->typeId() == QMetaType::QVariantList) {
            entries = calendar->toList();
            const bool allEntries = std::all_of(entries.begin(), entries.end(), [](const auto& v) {
                return v.typeId() == QMetaType::QVariantMap;
            });
            if (!allEntries)
                entries.clear();
        }
        QStringList descriptions;
        for (const QVariant& entry : std::as_const(entries)) {
            QString text = describeCalendarEntry(entry.toMap());
            if (!text.isEmpty())
                descriptions.append(std::move(text));
        }
        if (!descriptions.isEmpty())
            return descriptions.join(u'；');
    }

    const auto interval = plist.constFind(QStringLiteral("StartInterval"));
    if (interval != plist.constEnd()) {
        if (const std::optional<qint64> seconds = integerValue(*interval); seconds && *seconds >= 1)
            return QStringLiteral("每隔 ") + humanInterval(*seconds);
    }
    return std::nullopt;
}

QString describeCalendarEntry(const QVariantMap& entry)
{
    const std::optional<qint64> weekday = integerAt(entry, QStringLiteral("Weekday"));
    const std::optional<qint64> day = integerAt(entry, QStringLiteral("Day"));
    const std::optional<qint64> month = integerAt(entry, QStringLiteral("Month"));
    const std::optional<qint64> hour = integerAt(entry, QStringLiteral("Hour"));
    const std::optional<qint64> minute = integerAt(entry, QStringLiteral("Minute"));

    QString text;
    if (month && day) {
        text = QStringLiteral("每年%1月%2日 ").arg(*month).arg(*day);
    } else if (weekday) {
        static const char16_t* const names[] = {u"周日", u"周一", u"周二", u"周三",
                                                u"周四", u"周五", u"周六", u"周日"};
        if (*weekday >= 0 && *weekday <= 7)
            text = QString::fromUtf16(names[*weekday]);
        else
            text = QStringLiteral("周") + QString::number(*weekday);
        text += u' ';
    } else if (day) {
        text = QStringLiteral("每月 %1 日 ").arg(*day);
    } else {
        text = QStringLiteral("每天 ");
    }

    if (hour) {
        text += QString::asprintf("%02lld:%02lld", static_cast<long long>(*hour),
                                  static_cast<long long>(minute.value_or(0)));
    } else if (minute) {
        text += QStringLiteral("每小时第 %1 分").arg(*minute);
    } else {
        text += QStringLiteral("（每分钟）");
    }

    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [&](qsizetype i) { return text[i] == u' ' || text[i] == u'\t'; };
    while (begin < end && blank(begin))
        ++begin;
    while (end > begin && blank(end - 1))
        --end;
    return text.sliced(begin, end - begin);
}

QString humanInterval(qint64 seconds)
{
    if (seconds % 86400 == 0)
        return QString::number(seconds / 86400) + QStringLiteral(" 天");
    if (seconds % 3600 == 0)
        return QString::number(seconds / 3600) + QStringLiteral(" 小时");
    if (seconds % 60 == 0)
        return QString::number(seconds / 60) + QStringLiteral(" 分钟");
    return QString::number(seconds) + QStringLiteral(" 秒");
}

// ---- The job table -------------------------------------------------------------------------

QList<JobTableRow> parseJobTable(QStringView output)
{
    QList<JobTableRow> rows;
    bool headerSkipped = false;
    for (const QStringView line : output.tokenize(u'\n', Qt::SkipEmptyParts)) {
        if (!headerSkipped) {
            headerSkipped = true;
            continue;
        }
        const qsizetype firstTab = line.indexOf(u'\t');
        if (firstTab < 0)
            continue;
        const qsizetype secondTab = line.indexOf(u'\t', firstTab + 1);
        if (secondTab < 0)
            continue;
        qsizetype labelEnd = line.indexOf(u'\t', secondTab + 1);
        if (labelEnd < 0)
            labelEnd = line.size();

        const QStringView pidField = line.first(firstTab);
        const QStringView statusField = line.sliced(firstTab + 1, secondTab - firstTab - 1);
        JobTableRow row;
        if (!pidField.isEmpty())
            row.pid = parseInt32Strict(pidField);
        if (!statusField.isEmpty())
            row.lastExitStatus = parseInt32Strict(statusField).value_or(0);
        row.label = line.sliced(secondTab + 1, labelEnd - secondTab - 1).toString();
        rows.append(std::move(row));
    }
    return rows;
}

QList<LaunchdJob> joinJobs(const QList<JobTableRow>& rows,
                           const QHash<QString, PlistInfo>& definitions)
{
    // Sort keys once per row rather than once per comparison.
    std::vector<std::pair<QString, qsizetype>> order;
    order.reserve(static_cast<size_t>(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i)
        order.emplace_back(rows[i].label.toLower(), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    QList<LaunchdJob> jobs;
    jobs.reserve(rows.size());
    for (const auto& [key, index] : order) {
        const JobTableRow& row = rows[index];
        LaunchdJob job;
        job.id = QUuid::createUuid();
        job.label = row.label;
        job.pid = row.pid;
        job.lastExitStatus = row.lastExitStatus;
        if (const auto it = definitions.constFind(row.label); it != definitions.constEnd()) {
            job.plistPath = it->path;
            job.program = it->program;
            job.schedule = it->schedule;
        }
        job.domain = domainForLabel(job.label, job.plistPath);
        jobs.append(std::move(job));
    }
    return jobs;
}

// ---- Public operations ---------------------------------------------------------------------

QList<LaunchdJob> list()
{
    const ProcessRunner::Result result = launchctl({QStringLiteral("list")});
    if (result.status != 0)
        return {};
    // Definitions are read only once the tool has answered.
    const QHash<QString, PlistInfo> definitions = discoverPlistPaths();
    return joinJobs(parseJobTable(result.stdOut), definitions);
}

ActionResult start(const LaunchdJob& job)
{
    return withFallback({QStringLiteral("kickstart"), serviceTarget(job)},
                        {QStringLiteral("start"), job.label});
}

ActionResult stop(const LaunchdJob& job)
{
    return withFallback({QStringLiteral("kill"), QStringLiteral("SIGTERM"), serviceTarget(job)},
                        {QStringLiteral("stop"), job.label});
}

ActionResult load(const LaunchdJob& job)
{
    if (!job.plistPath)
        return fail(QStringLiteral("找不到该任务的 .plist 文件，无法加载。"));
    return withFallback({QStringLiteral("bootstrap"), userDomainTarget(), *job.plistPath},
                        {QStringLiteral("load"), *job.plistPath});
}

ActionResult unload(const LaunchdJob& job)
{
    const ProcessRunner::Result first = launchctl({QStringLiteral("bootout"), serviceTarget(job)});
    if (first.status == 0)
        return succeeded();
    if (!job.plistPath)
        return fail(first.stdErr);
    const ProcessRunner::Result second = launchctl({QStringLiteral("unload"), *job.plistPath});
    if (second.status == 0)
        return succeeded();
    return failBoth(first, second);
}

} // namespace LaunchctlManager

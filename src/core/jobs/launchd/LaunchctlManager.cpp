#include "LaunchctlManager.h"

#include "FreshIds.h"
#include "LargeStackPool.h"
#include "LaunchctlParsing.h"
#include "Numbers.h"
#include "ProcessRunner.h"
#include "platform/Platform.h"

#include <QFile>
#include <QtEndian>

#include <plist/plist.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LaunchctlManager {

namespace {

// ---- Decoded values ------------------------------------------------------------------------
//
// The rules read a decoded property list through one of two small views with the same questions
// (is it a dictionary, an array, a text, an integer; what is under a key): one over libplist's
// nodes, as files give them, and one over QVariant, for callers that build values by hand.

// A real that is exactly an integer within range. 2^63 is exact as a double; anything from there
// up does not fit a qint64.
std::optional<qint64> integerFromReal(double real)
{
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(real) || std::trunc(real) != real || real < -limit || real >= limit)
        return std::nullopt;
    return static_cast<qint64>(real);
}

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct DictIterFree {
    void operator()(void* iter) const { std::free(iter); }
};

// Calls visit(keyNode, value) for each entry until it returns false. The binary decoder accepts
// any object as a key, and the library's accessor for a key's text aborts on keys holding a NUL
// character, so keys are only type-checked and compared (as text up to any NUL), never read out.
template <typename Visit> void forEachEntry(plist_t dict, Visit visit)
{
    plist_dict_iter rawIter = nullptr;
    plist_dict_new_iter(dict, &rawIter);
    const std::unique_ptr<void, DictIterFree> iter(rawIter);
    if (!iter)
        return;
    for (;;) {
        plist_t value = nullptr;
        plist_dict_next_item(dict, rawIter, nullptr, &value);
        if (!value || !visit(plist_dict_item_get_key(value), value))
            return;
    }
}

// The only keys any rule reads: the first five at the top level of a file, the other five in a
// calendar entry.
constexpr std::array<std::string_view, 10> knownKeys{"Label",         "ProgramArguments",
                                                     "Program",       "StartCalendarInterval",
                                                     "StartInterval", "Weekday",
                                                     "Day",           "Month",
                                                     "Hour",          "Minute"};
constexpr std::size_t entryKeysBegin = 5;

constexpr std::size_t knownKeyIndex(std::string_view key)
{
    return static_cast<std::size_t>(std::find(knownKeys.begin(), knownKeys.end(), key) -
                                    knownKeys.begin());
}

class PlistView {
public:
    // The whole file's dictionary.
    static PlistView root(plist_t node) { return PlistView(node, 0, entryKeysBegin); }

    // A dictionary counts only when all its keys are text.
    bool isDictionary() const { return type_ == PLIST_DICT && textKeys_; }
    bool isArray() const { return type_ == PLIST_ARRAY; }
    qsizetype size() const { return plist_array_get_size(node_); }
    PlistView at(qsizetype i) const
    {
        return PlistView(plist_array_get_item(node_, static_cast<uint32_t>(i)));
    }

    // The first entry under this key, of a dictionary.
    std::optional<PlistView> value(std::string_view key) const
    {
        const std::size_t index = knownKeyIndex(key);
        if (index >= known_.size() || !known_[index])
            return std::nullopt;
        return PlistView(known_[index]);
    }

    std::optional<QString> text() const
    {
        if (type_ != PLIST_STRING)
            return std::nullopt;
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node_, &length);
        return QString::fromUtf8(text, static_cast<qsizetype>(length));
    }

    std::optional<qint64> integer() const
    {
        if (type_ == PLIST_UINT) {
            // Property-list integers are signed; the library hands them out as unsigned bits.
            uint64_t value = 0;
            plist_get_uint_val(node_, &value);
            return static_cast<qint64>(value);
        }
        if (type_ == PLIST_REAL) {
            double value = 0;
            plist_get_real_val(node_, &value);
            return integerFromReal(value);
        }
        return std::nullopt;
    }

private:
    // Anything below the top level is read, when it is a dictionary, as a calendar entry.
    explicit PlistView(plist_t node, std::size_t keysBegin = entryKeysBegin,
                       std::size_t keysEnd = knownKeys.size())
        : node_(node), type_(plist_get_node_type(node))
    {
        if (type_ == PLIST_DICT)
            readKeys(keysBegin, keysEnd);
    }

    // One pass over the entries: checks the keys' type and keeps the first value of each key
    // that the rules read at this level.
    void readKeys(std::size_t keysBegin, std::size_t keysEnd)
    {
        forEachEntry(node_, [&](plist_t key, plist_t value) {
            textKeys_ = key && plist_get_node_type(key) == PLIST_KEY;
            for (std::size_t i = keysBegin; textKeys_ && i < keysEnd; ++i) {
                if (plist_key_val_compare(key, knownKeys[i].data()) == 0) {
                    if (!known_[i])
                        known_[i] = value;
                    break;
                }
            }
            return textKeys_;
        });
    }

    plist_t node_;
    plist_type type_;
    bool textKeys_ = true;
    std::array<plist_t, knownKeys.size()> known_{};
};

class VariantView {
public:
    explicit VariantView(const QVariant& value) : value_(value)
    {
        if (isArray())
            list_ = value.toList();
        else if (isDictionary())
            map_ = value.toMap();
    }

    bool isDictionary() const { return value_.typeId() == QMetaType::QVariantMap; }
    bool isArray() const { return value_.typeId() == QMetaType::QVariantList; }
    qsizetype size() const { return list_.size(); }
    VariantView at(qsizetype i) const { return VariantView(list_.at(i)); }

    std::optional<VariantView> value(std::string_view key) const
    {
        const auto it = map_.constFind(QLatin1String(key.data(), key.size()));
        if (it == map_.constEnd())
            return std::nullopt;
        return VariantView(*it);
    }

    std::optional<QString> text() const
    {
        if (value_.typeId() != QMetaType::QString)
            return std::nullopt;
        return value_.toString();
    }

    // Booleans are not numbers here, and neither are texts that look like one.
    std::optional<qint64> integer() const
    {
        switch (value_.typeId()) {
        case QMetaType::LongLong:
        case QMetaType::Int:
        case QMetaType::UInt:
            return value_.toLongLong();
        case QMetaType::ULongLong:
            if (value_.toULongLong() > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
                return std::nullopt;
            return value_.toLongLong();
        case QMetaType::Double:
        case QMetaType::Float:
            return integerFromReal(value_.toDouble());
        default:
            return std::nullopt;
        }
    }

private:
    QVariant value_;
    QVariantList list_;
    QVariantMap map_;
};

template <typename View> std::optional<qint64> integerAt(const View& dict, std::string_view key)
{
    const std::optional<View> value = dict.value(key);
    return value ? value->integer() : std::nullopt;
}

template <typename View> std::optional<QString> textAt(const View& dict, std::string_view key)
{
    const std::optional<View> value = dict.value(key);
    return value ? value->text() : std::nullopt;
}

// "ProgramArguments" joined with spaces when it is a non-empty array of texts, else "Program".
template <typename View> std::optional<QString> programOf(const View& plist)
{
    if (const std::optional<View> arguments = plist.value("ProgramArguments");
        arguments && arguments->isArray() && arguments->size() > 0) {
        QString line;
        bool allText = true;
        for (qsizetype i = 0; i < arguments->size() && allText; ++i) {
            const std::optional<QString> part = arguments->at(i).text();
            allText = part.has_value();
            if (allText) {
                if (i > 0)
                    line += u' ';
                line += *part;
            }
        }
        if (allText)
            return line;
    }
    return textAt(plist, "Program");
}

// Numbers are written straight into the text being built: schedules are made for every file of
// every listing.
void appendNumber(QString& text, qint64 value)
{
    std::array<char, 24> digits{};
    const char* const end = std::to_chars(digits.begin(), digits.end(), value).ptr;
    text += QLatin1StringView(digits.data(), end - digits.data());
}

// printf's "%02d": at least two characters, zero-padded (so 5 gives 05 and -5 stays -5).
void appendTwoDigits(QString& text, qint64 value)
{
    if (value >= 0 && value < 10)
        text += u'0';
    appendNumber(text, value);
}

template <typename View> void appendCalendarEntry(QString& text, const View& entry)
{
    const std::optional<qint64> weekday = integerAt(entry, "Weekday");
    const std::optional<qint64> day = integerAt(entry, "Day");
    const std::optional<qint64> month = integerAt(entry, "Month");
    const std::optional<qint64> hour = integerAt(entry, "Hour");
    const std::optional<qint64> minute = integerAt(entry, "Minute");

    const qsizetype begin = text.size();
    if (month && day) {
        text += u"每年";
        appendNumber(text, *month);
        text += u'月';
        appendNumber(text, *day);
        text += u"日 ";
    } else if (weekday) {
        static constexpr std::array<std::u16string_view, 8> names{
            u"周日", u"周一", u"周二", u"周三", u"周四", u"周五", u"周六", u"周日"};
        if (*weekday >= 0 && *weekday < static_cast<qint64>(names.size())) {
            text += QStringView(names[static_cast<std::size_t>(*weekday)]);
        } else {
            text += u'周';
            appendNumber(text, *weekday);
        }
        text += u' ';
    } else if (day) {
        text += u"每月 ";
        appendNumber(text, *day);
        text += u" 日 ";
    } else {
        text += u"每天 ";
    }

    if (hour) {
        appendTwoDigits(text, *hour);
        text += u':';
        appendTwoDigits(text, minute.value_or(0));
    } else if (minute) {
        text += u"每小时第 ";
        appendNumber(text, *minute);
        text += u" 分";
    } else {
        text += u"（每分钟）";
    }

    // Spaces and tabs are trimmed from both ends of what this entry added.
    const auto blank = [&](qsizetype i) { return text[i] == u' ' || text[i] == u'\t'; };
    qsizetype end = text.size();
    while (end > begin && blank(end - 1))
        --end;
    text.truncate(end);
    qsizetype first = begin;
    while (first < end && blank(first))
        ++first;
    text.remove(begin, first - begin);
}

// A calendar schedule wins over an interval; an array counts only when all its elements are
// calendar entries.
template <typename View> std::optional<QString> scheduleOf(const View& plist)
{
    if (const std::optional<View> calendar = plist.value("StartCalendarInterval")) {
        std::vector<View> entries;
        if (calendar->isDictionary()) {
            entries.push_back(*calendar);
        } else if (calendar->isArray()) {
            for (qsizetype i = 0; i < calendar->size(); ++i)
                entries.push_back(calendar->at(i));
            if (!std::all_of(entries.begin(), entries.end(),
                             [](const View& entry) { return entry.isDictionary(); }))
                entries.clear();
        }
        QString descriptions;
        descriptions.reserve(16 * static_cast<qsizetype>(entries.size()));
        for (const View& entry : entries) {
            const qsizetype mark = descriptions.size();
            if (mark > 0)
                descriptions += u'；';
            const qsizetype begin = descriptions.size();
            appendCalendarEntry(descriptions, entry);
            if (descriptions.size() == begin) // an empty description is dropped
                descriptions.truncate(mark);
        }
        if (!descriptions.isEmpty())
            return descriptions;
    }
    if (const std::optional<qint64> seconds = integerAt(plist, "StartInterval"))
        return *seconds >= 1 ? std::optional(QStringLiteral("每隔 ") + humanInterval(*seconds))
                             : std::nullopt;
    return std::nullopt;
}

// ---- Reading folders -----------------------------------------------------------------------

constexpr std::string_view plistSuffix(".plist");

// A folder's ".plist" entries: hidden ones included, sorted by name so that which of two files
// wins does not depend on the file system's order. The folder stays open so that its files are
// opened relative to it. An unlistable folder gives no entries.
struct DefinitionFolder {
    struct Entry {
        std::string name;     // as the file system has it
        bool regular = false; // the listing says it is a regular file, not a link or anything else
    };

    explicit DefinitionFolder(const QString& folderPath)
        : path(folderPath), dir(::opendir(QFile::encodeName(folderPath).constData()))
    {
        if (!dir)
            return;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (name.size() >= plistSuffix.size() &&
                name.substr(name.size() - plistSuffix.size()) == plistSuffix)
                entries.push_back({std::string(name), entry->d_type == DT_REG});
        }
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });
    }
    ~DefinitionFolder()
    {
        if (dir)
            ::closedir(dir);
    }
    DefinitionFolder(const DefinitionFolder&) = delete;
    DefinitionFolder& operator=(const DefinitionFolder&) = delete;

    QString path;
    DIR* dir = nullptr;
    std::vector<Entry> entries;
};

// The whole content of a regular file of at most maxDefinitionFileSize bytes, with symbolic
// links followed; nothing for anything else. knownRegular says the caller has already seen a
// regular file under this name, which spares a lookup of the name before opening it.
std::optional<QByteArray> readRegularFileAt(int dirFd, const char* name, bool knownRegular = false)
{
    // Check the type before opening: opening a FIFO or a device may block or have effects.
    struct stat info {};
    if (!knownRegular && (::fstatat(dirFd, name, &info, 0) != 0 || !S_ISREG(info.st_mode) ||
                          info.st_size > maxDefinitionFileSize))
        return std::nullopt;

    // Non-blocking, should the entry have been swapped for a FIFO since it was looked at.
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxDefinitionFileSize) {
        ::close(fd);
        return std::nullopt;
    }

    // Only the size seen when opening is read, so a file that keeps growing stays bounded.
    QByteArray bytes(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        filled += count;
    }
    ::close(fd);
    bytes.truncate(filled);
    return bytes;
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
    return readRegularFileAt(AT_FDCWD, native.constData());
}

PlistContents decodePlist(QByteArrayView bytes)
{
    // The decoder rejects an XML document that starts with a byte-order mark.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    if (bytes.isEmpty() || bytes.size() > maxDefinitionFileSize)
        return {};
    // Decoding a binary list takes time growing with the square of its nesting depth, which its
    // object count (in the fixed trailer at its end) bounds. Definitions hold a few hundred
    // objects; a list of more is not one.
    if (bytes.startsWith("bplist") && bytes.size() >= 32 &&
        qFromBigEndian<quint64>(bytes.data() + bytes.size() - 24) > maxBinaryObjects)
        return {};

    plist_t rootNode = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &rootNode);
    const PlistPtr root(rootNode);
    if (!root)
        return {};

    const PlistView plist = PlistView::root(rootNode);
    if (!plist.isDictionary())
        return {};
    return {textAt(plist, "Label"), programOf(plist), scheduleOf(plist)};
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
    std::vector<std::unique_ptr<DefinitionFolder>> opened;
    struct File {
        const DefinitionFolder* folder;
        const DefinitionFolder::Entry* entry;
        QString stem;
        PlistInfo info;
        std::optional<QString> label;
    };
    std::vector<File> files;
    for (const QString& folder : folders) {
        opened.push_back(std::make_unique<DefinitionFolder>(folder));
        for (const DefinitionFolder::Entry& entry : opened.back()->entries)
            files.push_back({opened.back().get(), &entry, {}, {}, {}});
    }

    // Files are read and decoded side by side; which one wins is decided afterwards, in order.
    // The decoder recurses once per nesting level, and a file within the size bound can nest
    // deeply enough (about 600,000 levels in 4 MiB of XML) to overflow an ordinary thread stack.
    LargeStackPool::run(static_cast<qsizetype>(files.size()), [&](qsizetype i) {
        File& file = files[static_cast<size_t>(i)];
        const QString name = QFile::decodeName(file.entry->name.c_str());
        file.stem = name.chopped(static_cast<qsizetype>(plistSuffix.size()));
        file.info.path = file.folder->path + u'/' + name;
        const std::optional<QByteArray> bytes = readRegularFileAt(
            ::dirfd(file.folder->dir), file.entry->name.c_str(), file.entry->regular);
        if (!bytes)
            return;
        PlistContents contents = decodePlist(*bytes);
        file.label = std::move(contents.label);
        file.info.program = std::move(contents.program);
        file.info.schedule = std::move(contents.schedule);
    });

    QHash<QString, PlistInfo> table;
    table.reserve(static_cast<qsizetype>(files.size()));
    for (File& file : files) {
        // A declared label takes over an earlier entry; a bare file name only fills a gap.
        if (!file.label && table.contains(file.stem))
            continue;
        table.emplace(file.label ? std::move(*file.label) : std::move(file.stem),
                      std::move(file.info));
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
    return scheduleOf(VariantView(plist));
}

QString describeCalendarEntry(const QVariantMap& entry)
{
    QString text;
    appendCalendarEntry(text, VariantView(entry));
    return text;
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

    FreshIds ids;
    QList<LaunchdJob> jobs;
    jobs.reserve(rows.size());
    for (const auto& [key, index] : order) {
        const JobTableRow& row = rows[index];
        LaunchdJob job;
        job.id = ids.next();
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

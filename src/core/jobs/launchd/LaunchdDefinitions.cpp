#include "LargeStackPool.h"
#include "LaunchctlParsing.h"
#include "LaunchdScheduleRules.h"
#include "PlistValues.h"
#include "platform/Platform.h"

#include <QFile>
#include <QtEndian>

#include <plist/plist.h>

#include <algorithm>
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

using PlistValues::PlistPtr;
using PlistValues::PlistView;
using PlistValues::textAt;

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

} // namespace

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
    return {textAt(plist, "Label"), programOf(plist), ScheduleRules::scheduleOf(plist),
            ScheduleRules::calendarOf(plist)};
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
        file.info.calendar = std::move(contents.calendar);
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
} // namespace LaunchctlManager

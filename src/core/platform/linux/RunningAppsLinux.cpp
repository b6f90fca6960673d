#include "RunningAppsLinuxParsing.h"
#include "platform/Platform.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>

#include <fcntl.h>
#include <unistd.h>

namespace Platform {
namespace detail {
namespace {

// The window speaks Chinese, so application names are taken in Chinese where the entry has them.
const QStringList& interfaceLocales()
{
    static const QStringList locales{QStringLiteral("zh_CN"), QStringLiteral("zh")};
    return locales;
}

// Files under /proc report a size of 0, so they are read until end of file.
QByteArray readSmallFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray contents;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            contents.append(buffer, got);
            if (contents.size() > (1 << 20))
                break;
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return contents;
}

QString decodeUnitEscapes(QStringView text)
{
    QByteArray bytes;
    for (qsizetype at = 0; at < text.size();) {
        if (text[at] == u'\\' && at + 3 < text.size() && text[at + 1] == u'x') {
            bool ok = false;
            const int value = text.sliced(at + 2, 2).toInt(&ok, 16);
            if (ok && text[at + 2] != u'+' && text[at + 2] != u'-' && text[at + 2] != u' ') {
                bytes.append(static_cast<char>(value));
                at += 4;
                continue;
            }
        }
        bytes.append(text.sliced(at, 1).toUtf8());
        ++at;
    }
    return QString::fromUtf8(bytes);
}

bool isUnitName(QStringView component)
{
    return component.startsWith(u"app-") &&
           (component.endsWith(u".scope") || component.endsWith(u".service") ||
            component.endsWith(u".slice"));
}

QString unescapeDesktopValue(QStringView value)
{
    QString text;
    text.reserve(value.size());
    for (qsizetype at = 0; at < value.size(); ++at) {
        if (value[at] != u'\\' || at + 1 == value.size()) {
            text += value[at];
            continue;
        }
        switch (value[++at].unicode()) {
        case u's':
            text += u' ';
            break;
        case u'n':
            text += u'\n';
            break;
        case u't':
            text += u'\t';
            break;
        case u'r':
            text += u'\r';
            break;
        case u'\\':
            text += u'\\';
            break;
        default:
            text += u'\\';
            text += value[at];
            break;
        }
    }
    return text;
}

bool isInsideUnit(const QString& path, const QString& unitPath)
{
    return path == unitPath ||
           (path.startsWith(unitPath) && path.at(unitPath.size()) == QLatin1Char('/'));
}

bool isValidDesktopId(const QString& id)
{
    return !id.isEmpty() && !id.contains(QLatin1Char('/')) && !id.startsWith(QLatin1Char('.')) &&
           !id.contains(QChar(u'\0'));
}

// Desktop entries read during one look-up, by ID.
class EntryCache {
public:
    EntryCache(const QStringList& folders, const QStringList& locales)
        : folders_(folders), locales_(locales)
    {
    }

    std::optional<DesktopEntry> entry(const QString& id)
    {
        auto it = entries_.find(id);
        if (it == entries_.end())
            it = entries_.insert(id, load(id));
        return *it;
    }

private:
    std::optional<DesktopEntry> load(const QString& id) const
    {
        const auto file = findDesktopFile(id, folders_);
        if (!file)
            return std::nullopt;
        auto parsed = parseDesktopEntry(readSmallFile(*file), locales_);
        if (!parsed || parsed->hidden)
            return std::nullopt;
        return parsed;
    }

    QStringList folders_;
    QStringList locales_;
    QHash<QString, std::optional<DesktopEntry>> entries_;
};

std::optional<RunningApplication> applicationOf(const QString& procRoot,
                                                const ProcessFacts& process,
                                                const QHash<qint32, const ProcessFacts*>& known,
                                                EntryCache& entries)
{
    // Most processes run outside any application unit; their cgroup file says so at a glance.
    if (!process.cgroups.contains("/app-"))
        return std::nullopt;
    const auto unit = applicationUnit(QString::fromUtf8(process.cgroups));
    if (!unit)
        return std::nullopt;

    // Only the process that leads the unit stands for the application; what it starts stays a
    // plain process.
    if (process.parentPid > 0) {
        const ProcessFacts* parent = known.value(process.parentPid);
        const QByteArray parentCgroup =
            parent ? parent->cgroups
                   : readSmallFile(procRoot + QLatin1Char('/') +
                                   QString::number(process.parentPid) + QStringLiteral("/cgroup"));
        const auto parentPath = cgroupPath(QString::fromUtf8(parentCgroup), unit->hierarchy);
        if (parentPath && isInsideUnit(*parentPath, unit->unitPath))
            return std::nullopt;
    }

    RunningApplication application;
    application.pid = process.pid;
    application.bundleIdentifier = unit->desktopId;
    if (const auto entry = entries.entry(unit->desktopId)) {
        application.localizedName = entry->name;
        application.iconName = entry->icon;
    }
    return application;
}

} // namespace

std::optional<QString> desktopIdOfUnit(QStringView unitName)
{
    if (!unitName.startsWith(u"app-"))
        return std::nullopt;
    QStringView body = unitName.sliced(4);
    if (body.endsWith(u".scope")) {
        body.chop(6);
        const qsizetype dash = body.lastIndexOf(u'-');
        if (dash < 0)
            return std::nullopt;
        body = body.first(dash);
    } else if (body.endsWith(u".service")) {
        body.chop(8);
        if (const qsizetype at = body.indexOf(u'@'); at >= 0)
            body = body.first(at);
    } else if (body.endsWith(u".slice")) {
        body.chop(6);
    } else {
        return std::nullopt;
    }
    // What is left is [launcher-]ID; dashes inside the ID are escaped as \x2d.
    if (const qsizetype dash = body.indexOf(u'-'); dash >= 0)
        body = body.sliced(dash + 1);
    if (body.contains(u'-'))
        return std::nullopt;
    QString id = decodeUnitEscapes(body);
    if (!isValidDesktopId(id))
        return std::nullopt;
    return id;
}

std::optional<QString> cgroupPath(QStringView cgroupFile, QStringView hierarchy)
{
    for (QStringView line : cgroupFile.split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype first = line.indexOf(u':');
        const qsizetype second = first < 0 ? -1 : line.indexOf(u':', first + 1);
        if (second >= 0 && line.first(second) == hierarchy)
            return line.sliced(second + 1).toString();
    }
    return std::nullopt;
}

std::optional<ApplicationUnit> applicationUnit(QStringView cgroupFile)
{
    // Lines read "ID:controllers:path"; the unified hierarchy is "0::path".
    const QStringView preferred[] = {u"0", u"name=systemd"};
    for (QStringView wanted : preferred) {
        for (QStringView line : cgroupFile.split(u'\n', Qt::SkipEmptyParts)) {
            const qsizetype first = line.indexOf(u':');
            const qsizetype second = first < 0 ? -1 : line.indexOf(u':', first + 1);
            if (second < 0)
                continue;
            const QStringView controllers = line.sliced(first + 1, second - first - 1);
            const bool matches = wanted == u"0" ? line.first(first) == u"0" && controllers.isEmpty()
                                                : controllers == wanted;
            if (!matches)
                continue;
            const QStringView path = line.sliced(second + 1);
            const auto components = path.split(u'/');
            for (qsizetype i = components.size() - 1; i >= 0; --i) {
                if (!isUnitName(components[i]))
                    continue;
                const auto id = desktopIdOfUnit(components[i]);
                if (!id)
                    continue;
                const qsizetype end = components[i].data() - path.data() + components[i].size();
                return ApplicationUnit{line.first(second).toString(), path.first(end).toString(),
                                       *id};
            }
        }
    }
    return std::nullopt;
}

std::optional<DesktopEntry> parseDesktopEntry(QByteArrayView contents, const QStringList& locales)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(contents);
    bool inGroup = false;
    bool sawGroup = false;
    QHash<QString, QString> values;
    for (QStringView rawLine : QStringView(text).split(u'\n')) {
        const QStringView line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line == u"[Desktop Entry]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.first(equals).trimmed().toString();
        if (!values.contains(key)) // the first occurrence of a key counts
            values.insert(key, unescapeDesktopValue(line.sliced(equals + 1).trimmed()));
    }
    if (!sawGroup)
        return std::nullopt;

    auto localized = [&](const QString& key) -> std::optional<QString> {
        for (const QString& locale : locales) {
            const QString value = values.value(key + QLatin1Char('[') + locale + QLatin1Char(']'));
            if (!value.isEmpty())
                return value;
        }
        const QString value = values.value(key);
        return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
    };
    DesktopEntry entry;
    entry.name = localized(QStringLiteral("Name"));
    entry.icon = localized(QStringLiteral("Icon"));
    entry.hidden = values.value(QStringLiteral("Hidden")) == u"true";
    return entry;
}

QStringList applicationFolders()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome))
        dataHome = Platform::homeDirectory() + QStringLiteral("/.local/share");
    QStringList dataDirs;
    for (const QString& dir :
         qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dataDirs.append(dir);
    }
    if (dataDirs.isEmpty())
        dataDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};

    QStringList folders;
    for (const QString& dir : QStringList{dataHome} + dataDirs) {
        QString folder = QDir::cleanPath(dir + QStringLiteral("/applications"));
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

std::optional<QString> findDesktopFile(const QString& desktopId, const QStringList& folders)
{
    if (!isValidDesktopId(desktopId))
        return std::nullopt;
    // "foo-bar-baz" may live at foo-bar-baz.desktop, foo/bar-baz.desktop or foo/bar/baz.desktop.
    QStringList candidates{desktopId};
    QString nested = desktopId;
    for (qsizetype at = nested.indexOf(QLatin1Char('-')); at > 0;
         at = nested.indexOf(QLatin1Char('-'), at + 1)) {
        nested[at] = QLatin1Char('/');
        candidates.append(nested);
    }
    for (const QString& folder : folders) {
        for (const QString& candidate : candidates) {
            const QString path = folder + QLatin1Char('/') + candidate + QStringLiteral(".desktop");
            if (QFileInfo(path).isFile())
                return path;
        }
    }
    return std::nullopt;
}

QHash<qint32, RunningApplication> runningApplicationsAmong(const QString& procRoot,
                                                           const QList<ProcessFacts>& processes,
                                                           const QStringList& applicationFolders,
                                                           const QStringList& locales)
{
    QHash<qint32, const ProcessFacts*> known;
    for (const ProcessFacts& process : processes)
        known.insert(process.pid, &process);
    EntryCache entries(applicationFolders, locales);
    QHash<qint32, RunningApplication> applications;
    for (const ProcessFacts& process : processes) {
        if (auto application = applicationOf(procRoot, process, known, entries))
            applications.insert(process.pid, std::move(*application));
    }
    return applications;
}

} // namespace detail

QHash<qint32, RunningApplication> runningApplications(const QList<ProcessFacts>& processes)
{
    return detail::runningApplicationsAmong(QStringLiteral("/proc"), processes,
                                            detail::applicationFolders(),
                                            detail::interfaceLocales());
}

} // namespace Platform

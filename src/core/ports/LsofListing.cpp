#include "PortScanner.h"

#include "FreshIds.h"
#include "Numbers.h"
#include "PortScannerParsing.h"
#include "ProcessRunner.h"

#include <QByteArray>
#include <QSet>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <unordered_set>
#include <vector>

namespace PortScanner {
namespace detail {
namespace {

// Calls fn(line) for every non-empty line; only '\n' separates lines.
template <typename Fn> void forEachLine(QStringView text, Fn&& fn)
{
    // Lines are short: a plain loop beats a vectorised search per line.
    const char16_t* const data = text.utf16();
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype at = 0; at < size; ++at) {
        if (data[at] != u'\n')
            continue;
        if (at > start)
            fn(text.sliced(start, at - start));
        start = at + 1;
    }
    if (size > start)
        fn(text.sliced(start));
}

bool isAsciiDigit(char32_t c)
{
    return c >= U'0' && c <= U'9';
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The control characters lsof shows as "^" and a letter: 0x01 to 0x1f, except those it writes
// with a backslash (\b, \t, \n, \f, \r). Anything else after "^" is an ordinary caret.
std::optional<char> caretControl(QChar next)
{
    const char16_t u = next.unicode();
    if (u < u'A' || u > u'_')
        return std::nullopt;
    const char control = static_cast<char>(u - 0x40);
    switch (control) {
    case '\b':
    case '\t':
    case '\n':
    case '\f':
    case '\r':
        return std::nullopt;
    default:
        return control;
    }
}

std::optional<char> backslashEscape(QStringView value, qsizetype at, qsizetype& length)
{
    if (at + 1 >= value.size())
        return std::nullopt;
    length = 2;
    switch (value[at + 1].unicode()) {
    case u'\\':
        return '\\';
    case u'n':
        return '\n';
    case u't':
        return '\t';
    case u'r':
        return '\r';
    case u'b':
        return '\b';
    case u'f':
        return '\f';
    case u'x':
        if (at + 3 < value.size() && hexValue(value[at + 2]) >= 0 && hexValue(value[at + 3]) >= 0) {
            length = 4;
            return static_cast<char>(hexValue(value[at + 2]) * 16 + hexValue(value[at + 3]));
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

bool hasEscape(QStringView value)
{
    return std::any_of(value.begin(), value.end(), [](QChar c) { return c == u'\\' || c == u'^'; });
}

struct AddressParts {
    QStringView host;
    qint64 port;
};

// parseAddress without copying the host: "*" when the name has none.
std::optional<AddressParts> splitAddress(QStringView name)
{
    // One pass: a connected socket ("->" anywhere) has no address of its own; else the last colon.
    qsizetype colon = -1;
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t c = name[at].unicode();
        if (c == u':')
            colon = at;
        else if (c == u'-' && at + 1 < name.size() && name[at + 1] == u'>')
            return std::nullopt;
    }
    if (colon < 0)
        return std::nullopt;

    // The run of numeric characters after the colon; only ASCII digits convert.
    const qsizetype first = colon + 1;
    qsizetype end = first;
    bool decimal = true;
    qint64 port = 0;
    while (end < name.size()) {
        char32_t c = name[end].unicode();
        qsizetype width = 1;
        if (isAsciiDigit(c)) {
            // Too large for a signed 64-bit number: no port.
            if (port > (std::numeric_limits<qint64>::max() - (c - U'0')) / 10)
                return std::nullopt;
            port = port * 10 + (c - U'0');
            ++end;
            continue;
        }
        if (QChar::isHighSurrogate(c) && end + 1 < name.size() && name[end + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[end], name[end + 1]);
            width = 2;
        }
        if (!QChar::isNumber(c))
            break;
        decimal = false;
        end += width;
    }
    if (end == first || !decimal)
        return std::nullopt;

    QStringView host = name.first(colon);
    if (host.startsWith(u'[') && host.endsWith(u']') && host.size() >= 2)
        host = host.sliced(1, host.size() - 2);
    return AddressParts{host.isEmpty() ? QStringView(u"*") : host, port};
}

// "/proc/123/cwd (readlink: Permission denied)": lsof's note for a directory it may not read.
// No real directory has this name, since /proc/PID/cwd is a link.
bool isUnreadableDirectoryNote(QStringView value)
{
    static constexpr QStringView prefix = u"/proc/";
    if (!value.startsWith(prefix) || !value.endsWith(u')'))
        return false;
    qsizetype at = prefix.size();
    const qsizetype digits = at;
    while (at < value.size() && isAsciiDigit(value[at].unicode()))
        ++at;
    return at > digits && value.sliced(at).startsWith(u"/cwd (");
}

// The keys (pid, port, protocol) already made into records, by process. The listing names a
// process once per run with all its sockets together, so the current process's keys are few and
// close at hand: they are searched directly, and only a process with many sockets gets a hash set.
class SeenKeys {
public:
    SeenKeys() { select(0); }

    // At every change of the current process. lsof lists processes by ascending pid within a run,
    // so most new processes go at the end of a sorted list; the rest are found by bisection or,
    // when out of order, in a hash.
    void select(qint32 pid)
    {
        if (ascending_.empty() || pid > ascending_.back().first) {
            current_ = newGroup();
            ascending_.emplace_back(pid, current_);
            return;
        }
        // A later run names the processes in the same order again: search onwards from the last
        // hit with growing steps before bisecting.
        const auto it = gallop(pid);
        if (it != ascending_.cend() && it->first == pid) {
            cursor_ = static_cast<size_t>(it - ascending_.cbegin());
            current_ = it->second;
            return;
        }
        const auto other = others_.constFind(pid);
        if (other != others_.cend()) {
            current_ = *other;
            return;
        }
        current_ = newGroup();
        others_.insert(pid, current_);
    }

    // True when the current process had no record with this port and protocol yet.
    bool insert(qint64 port, int protocol)
    {
        Group& group = groups_[current_];
        const Key key{port, protocol};
        if (group.large)
            return group.large->insert(key).second;
        for (const Key& earlier : group.small) {
            if (earlier == key)
                return false;
        }
        group.small.append(key);
        if (group.small.size() > 32) {
            group.large = std::make_unique<std::unordered_set<Key, KeyHash>>(group.small.begin(),
                                                                             group.small.end());
            group.small.clear();
        }
        return true;
    }

private:
    struct Key {
        qint64 port;
        int protocol;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& key) const { return qHashMulti(0, key.port, key.protocol); }
    };
    struct Group {
        QVarLengthArray<Key, 4> small;
        std::unique_ptr<std::unordered_set<Key, KeyHash>> large;
    };

    using Entry = std::pair<qint32, size_t>;

    // The first entry not below pid. Entries before the cursor are below it when the cursor's is.
    std::vector<Entry>::const_iterator gallop(qint32 pid) const
    {
        const auto byPid = [](const Entry& entry, qint32 wanted) { return entry.first < wanted; };
        size_t low = cursor_ < ascending_.size() && ascending_[cursor_].first < pid ? cursor_ : 0;
        size_t step = 1;
        size_t high = low + step;
        while (high < ascending_.size() && ascending_[high].first < pid) {
            low = high;
            step *= 2;
            high = low + step;
        }
        high = std::min(high + 1, ascending_.size());
        return std::lower_bound(ascending_.cbegin() + static_cast<std::ptrdiff_t>(low),
                                ascending_.cbegin() + static_cast<std::ptrdiff_t>(high), pid,
                                byPid);
    }

    size_t newGroup()
    {
        groups_.emplace_back();
        return groups_.size() - 1;
    }

    std::vector<Group> groups_;
    std::vector<Entry> ascending_;
    size_t cursor_ = 0;
    QHash<qint32, size_t> others_;
    size_t current_ = 0;
};

// The running state of one parse over the listing's field output.
class ListingParser {
public:
    // A socket takes some 32 characters or more of the listing (its t, P and n lines): enough room
    // for the usual case without a pass over the text to count.
    explicit ListingParser(qsizetype outputSize)
    {
        records_.reserve(outputSize / 32 + 1);
        protocolIndex_ = intern(QStringLiteral("TCP"));
        defaultProtocolIndex_ = protocolIndex_;
    }

    void line(QStringView line)
    {
        const QStringView value = line.sliced(1);
        const char16_t letter = line.front().unicode();
        // A "u" line is looked at only when the next line is not an "L" line, which would set the
        // user anyway: lsof writes both for every process, and the look-up is the dearer part.
        if (pendingUid_) {
            if (letter != u'L')
                userId(*pendingUid_);
            pendingUid_.reset();
        }
        switch (letter) {
        case u'p':
            pid_ = parseInt32Strict(value).value_or(0);
            seen_.select(pid_);
            // Command and user belong to the process that the "p" line starts.
            command_.clear();
            user_.clear();
            break;
        case u'c':
            command_ = commands_.share(value);
            break;
        case u'L':
            user_ = users_.share(value);
            break;
        case u'u':
            pendingUid_ = value;
            break;
        case u'P':
            protocol(value);
            break;
        case u'n':
            name(value);
            break;
        default:
            break;
        }
    }

    QList<ServicePort> take() { return std::move(records_); }

private:
    void userId(QStringView value)
    {
        if (user_.isEmpty() && !value.isEmpty()) {
            if (const auto uid = parseUInt32Strict(value))
                user_ = cachedAccountName(*uid);
        }
    }

    int intern(const QString& protocol)
    {
        const qsizetype at = protocols_.indexOf(protocol);
        if (at >= 0)
            return static_cast<int>(at);
        protocols_.append(protocol);
        return static_cast<int>(protocols_.size() - 1);
    }

    void protocol(QStringView value)
    {
        if (hasRawProtocol_ && value.size() == rawProtocol_.size() &&
            std::equal(value.begin(), value.end(), rawProtocol_.cbegin()))
            return;
        rawProtocol_ = value.toString();
        hasRawProtocol_ = true;
        const QString upper = rawProtocol_.toUpper();
        protocolIndex_ =
            upper.isEmpty() ? defaultProtocolIndex_ : intern(staticText(upper).value_or(upper));
    }

    void name(QStringView value)
    {
        const bool escaped = hasEscape(value);
        const QString decoded = escaped ? decodeLsofText(value) : QString();
        const auto address = splitAddress(escaped ? QStringView(decoded) : value);
        if (!address || address->port < 1)
            return;
        const QString& protocol = protocols_.at(protocolIndex_);
        if (!seen_.insert(address->port, protocolIndex_))
            return;
        // Built in place: a temporary record and its move would cost a good part of the parse.
        // Texts are copied, then moved in: QString's copy assignment is an out-of-line call.
        ServicePort& record = records_.emplaceBack();
        record.id = ids_.next();
        record.port = address->port;
        record.networkProtocol = QString(protocol);
        record.address = sharedHost(address->host);
        record.pid = pid_;
        record.command = QString(command_);
        record.user = QString(user_);
    }

    // Hosts, commands and users repeat ("*", "127.0.0.1", "node", "root"): records share one copy
    // of each recent text instead of allocating their own.
    template <size_t N> struct RecentTexts {
        std::array<QString, N> texts;
        size_t next = 0;

        const QString& share(QStringView text)
        {
            for (const QString& recent : texts) {
                if (recent.size() == text.size() && recent == text)
                    return recent;
            }
            QString& slot = texts[next];
            next = (next + 1) % N;
            slot = text.toString();
            return slot;
        }
    };

    // The usual texts come from static storage, whose copies need no reference counting.
    static std::optional<QString> staticText(QStringView text)
    {
        static const std::array<QString, 7> common{
            QStringLiteral("*"),  QStringLiteral("127.0.0.1"), QStringLiteral("::1"),
            QStringLiteral("::"), QStringLiteral("0.0.0.0"),   QStringLiteral("TCP"),
            QStringLiteral("UDP")};
        for (const QString& candidate : common) {
            if (candidate == text)
                return candidate;
        }
        return std::nullopt;
    }

    QString sharedHost(QStringView host)
    {
        if (auto common = staticText(host))
            return *std::move(common);
        return hosts_.share(host);
    }

    const QString& cachedAccountName(quint32 uid)
    {
        auto it = accounts_.find(uid);
        if (it == accounts_.end())
            it = accounts_.insert(uid, Platform::userName(uid));
        return *it;
    }

    qint32 pid_ = 0;
    std::optional<QStringView> pendingUid_;
    QString command_;
    QString user_;
    QString rawProtocol_;
    bool hasRawProtocol_ = false;
    int protocolIndex_ = 0;
    int defaultProtocolIndex_ = 0;
    QStringList protocols_;
    SeenKeys seen_;
    QHash<quint32, QString> accounts_;
    RecentTexts<4> hosts_;
    RecentTexts<8> commands_;
    RecentTexts<4> users_;
    QList<ServicePort> records_;
    FreshIds ids_;
};

} // namespace

std::optional<SocketAddress> parseAddress(QStringView name)
{
    const auto split = splitAddress(name);
    if (!split)
        return std::nullopt;
    return SocketAddress{split->host.toString(), split->port};
}

QString decodeLsofText(QStringView value)
{
    QByteArray bytes;
    bytes.reserve(value.size());
    qsizetype plainStart = 0;
    qsizetype at = 0;
    auto flushPlain = [&](qsizetype upTo) {
        if (upTo > plainStart)
            bytes.append(value.sliced(plainStart, upTo - plainStart).toUtf8());
    };
    while (at < value.size()) {
        const QChar c = value[at];
        std::optional<char> byte;
        qsizetype length = 0;
        if (c == u'\\') {
            byte = backslashEscape(value, at, length);
        } else if (c == u'^' && at + 1 < value.size()) {
            byte = caretControl(value[at + 1]);
            length = 2;
        }
        if (!byte) {
            ++at;
            continue;
        }
        flushPlain(at);
        bytes.append(*byte);
        at += length;
        plainStart = at;
    }
    flushPlain(value.size());

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    return decoder.hasError() ? value.toString() : text;
}

QList<qint32> workingDirPids(const QList<ServicePort>& ports)
{
    QList<qint32> pids;
    QSet<qint32> seen;
    for (const ServicePort& port : ports) {
        if (port.pid >= 1 && !seen.contains(port.pid)) {
            seen.insert(port.pid);
            pids.append(port.pid);
        }
    }
    return pids;
}

QStringList workingDirArguments(const QList<qint32>& pids)
{
    QString joined;
    for (qint32 pid : pids) {
        if (!joined.isEmpty())
            joined += QLatin1Char(',');
        joined += QString::number(pid);
    }
    return {QStringLiteral("-a"),
            QStringLiteral("-d"),
            QStringLiteral("cwd"),
            QStringLiteral("-p"),
            joined,
            QStringLiteral("-Fpn")};
}

QHash<qint32, QString> parseWorkingDirs(QStringView output)
{
    QHash<qint32, QString> directories;
    qint32 pid = 0;
    forEachLine(output, [&](QStringView line) {
        const QStringView value = line.sliced(1);
        if (line.front() == u'p') {
            pid = parseInt32Strict(value).value_or(0);
        } else if (line.front() == u'n' && !directories.contains(pid)) {
            QString directory = decodeLsofText(value);
            if (!isUnreadableDirectoryNote(directory))
                directories.insert(pid, std::move(directory));
        }
    });
    return directories;
}

void applyRunningApps(QList<ServicePort>& ports,
                      const QHash<qint32, Platform::RunningApplication>& applications)
{
    for (ServicePort& port : ports) {
        const auto it = applications.constFind(port.pid);
        if (it == applications.cend())
            continue;
        port.appName = it->localizedName;
        port.bundleID = it->bundleIdentifier;
        port.iconName = it->iconName;
    }
}

void applyWorkingDirs(QList<ServicePort>& ports, const QHash<qint32, QString>& directories)
{
    for (ServicePort& port : ports) {
        const auto it = directories.constFind(port.pid);
        port.workingDir = it == directories.cend() ? std::nullopt : std::optional<QString>(*it);
    }
}

void enrichWithRunningApps(QList<ServicePort>& ports)
{
    applyRunningApps(ports,
                     Platform::runningApplications(Platform::processFacts(workingDirPids(ports))));
}

void enrichWithWorkingDir(QList<ServicePort>& ports)
{
    const QList<qint32> pids = workingDirPids(ports);
    if (pids.isEmpty())
        return;
    const auto result = ProcessRunner::run(Platform::lsofPath(), workingDirArguments(pids));
    applyWorkingDirs(ports, parseWorkingDirs(result.stdOut));
}

ScanResult lsofScan()
{
    QString listing;
    const QString tool = Platform::lsofPath();
    for (const QStringList& arguments : Platform::socketListingRuns()) {
        const auto result = ProcessRunner::run(tool, arguments);
        if (result.status == -1)
            return {{}, result.stdErr};
        if (!listing.isEmpty() && !listing.endsWith(QLatin1Char('\n')))
            listing += QLatin1Char('\n');
        listing += result.stdOut;
    }
    QList<ServicePort> ports = parse(listing);
    enrichWithRunningApps(ports);
    enrichWithWorkingDir(ports);
    return {ports, std::nullopt};
}

} // namespace detail

QList<ServicePort> parse(const QString& output)
{
    detail::ListingParser parser(output.size());
    detail::forEachLine(output, [&](QStringView line) { parser.line(line); });
    return parser.take();
}

} // namespace PortScanner

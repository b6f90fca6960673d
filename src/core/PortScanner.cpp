#include "PortScanner.h"

#include "Numbers.h"
#include "PortScannerParsing.h"
#include "ProcessRunner.h"

#include <QByteArray>
#include <QSet>
#include <QStringDecoder>
#include <QUuid>

#include <algorithm>
#include <array>

#include <pwd.h>

namespace PortScanner {
namespace detail {
namespace {

// Calls fn(line) for every non-empty line; only '\n' separates lines.
template <typename Fn> void forEachLine(QStringView text, Fn&& fn)
{
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = size;
        if (end > start)
            fn(text.sliced(start, end - start));
        start = end + 1;
    }
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

QString accountName(quint32 uid)
{
    std::array<char, 4096> buffer;
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return QString::number(uid);
}

struct RecordKey {
    qint32 pid;
    qint64 port;
    int protocol; // index into the parse's list of distinct protocol texts

    bool operator==(const RecordKey&) const = default;
};

size_t qHash(const RecordKey& key, size_t seed = 0)
{
    return qHashMulti(seed, key.pid, key.port, key.protocol);
}

// The running state of one parse over the listing's field output.
class ListingParser {
public:
    explicit ListingParser(qsizetype sizeHint)
    {
        // Roughly one socket per 60 bytes of output.
        const qsizetype expected = sizeHint / 60;
        records_.reserve(expected);
        seen_.reserve(expected);
        protocolIndex_ = intern(QStringLiteral("TCP"));
        defaultProtocolIndex_ = protocolIndex_;
    }

    void line(QStringView line)
    {
        const QStringView value = line.sliced(1);
        switch (line.front().unicode()) {
        case u'p':
            pid_ = parseInt32Strict(value).value_or(0);
            // Command and user belong to the process that the "p" line starts.
            command_.clear();
            user_.clear();
            break;
        case u'c':
            command_ = value.toString();
            break;
        case u'L':
            user_ = value.toString();
            break;
        case u'u':
            if (user_.isEmpty() && !value.isEmpty()) {
                if (const auto uid = parseUInt32Strict(value))
                    user_ = cachedAccountName(*uid);
            }
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
        if (hasRawProtocol_ && value == rawProtocol_)
            return;
        rawProtocol_ = value.toString();
        hasRawProtocol_ = true;
        const QString upper = rawProtocol_.toUpper();
        protocolIndex_ = upper.isEmpty() ? defaultProtocolIndex_ : intern(upper);
    }

    void name(QStringView value)
    {
        const bool escaped = value.contains(u'\\') || value.contains(u'^');
        const QString decoded = escaped ? decodeLsofText(value) : QString();
        auto address = parseAddress(escaped ? QStringView(decoded) : value);
        if (!address || address->port < 1)
            return;
        if (!seenInsert(RecordKey{pid_, address->port, protocolIndex_}))
            return;
        ServicePort record;
        record.id = QUuid::createUuid();
        record.port = address->port;
        record.networkProtocol = protocols_.at(protocolIndex_);
        record.address = std::move(address->host);
        record.pid = pid_;
        record.command = command_;
        record.user = user_;
        records_.append(std::move(record));
    }

    bool seenInsert(const RecordKey& key)
    {
        const qsizetype before = seen_.size();
        seen_.insert(key);
        return seen_.size() != before;
    }

    const QString& cachedAccountName(quint32 uid)
    {
        auto it = accounts_.find(uid);
        if (it == accounts_.end())
            it = accounts_.insert(uid, accountName(uid));
        return *it;
    }

    qint32 pid_ = 0;
    QString command_;
    QString user_;
    QString rawProtocol_;
    bool hasRawProtocol_ = false;
    int protocolIndex_ = 0;
    int defaultProtocolIndex_ = 0;
    QStringList protocols_;
    QSet<RecordKey> seen_;
    QHash<quint32, QString> accounts_;
    QList<ServicePort> records_;
};

} // namespace

std::optional<SocketAddress> parseAddress(QStringView name)
{
    if (name.contains(u"->"))
        return std::nullopt;
    const qsizetype colon = name.lastIndexOf(u':');
    if (colon < 0)
        return std::nullopt;

    // The run of numeric characters after the colon; only ASCII digits convert.
    const qsizetype first = colon + 1;
    qsizetype end = first;
    bool decimal = true;
    while (end < name.size()) {
        char32_t c = name[end].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && end + 1 < name.size() && name[end + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[end], name[end + 1]);
            width = 2;
        }
        if (!QChar::isNumber(c))
            break;
        decimal = decimal && isAsciiDigit(c);
        end += width;
    }
    if (end == first || !decimal)
        return std::nullopt;
    const auto port = parseInt64Strict(name.sliced(first, end - first));
    if (!port)
        return std::nullopt;

    QStringView host = name.first(colon);
    if (host.startsWith(u'[') && host.endsWith(u']') && host.size() >= 2)
        host = host.sliced(1, host.size() - 2);
    return SocketAddress{host.isEmpty() ? QStringLiteral("*") : host.toString(), *port};
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
                      const QList<Platform::RunningApplication>& applications)
{
    QHash<qint32, const Platform::RunningApplication*> byPid;
    for (const auto& application : applications)
        byPid.insert(application.pid, &application); // a later entry replaces an earlier one
    for (ServicePort& port : ports) {
        if (const auto* application = byPid.value(port.pid)) {
            port.appName = application->localizedName;
            port.bundleID = application->bundleIdentifier;
        }
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
    applyRunningApps(ports, Platform::runningApplications());
}

void enrichWithWorkingDir(QList<ServicePort>& ports)
{
    const QList<qint32> pids = workingDirPids(ports);
    if (pids.isEmpty())
        return;
    const auto result = ProcessRunner::run(Platform::lsofPath(), workingDirArguments(pids));
    applyWorkingDirs(ports, parseWorkingDirs(result.stdOut));
}

void sortByPortAndProtocol(QList<ServicePort>& ports)
{
    std::stable_sort(ports.begin(), ports.end(), [](const ServicePort& a, const ServicePort& b) {
        if (a.port != b.port)
            return a.port < b.port;
        return a.networkProtocol < b.networkProtocol;
    });
}

} // namespace detail

QList<ServicePort> parse(const QString& output)
{
    detail::ListingParser parser(output.size());
    detail::forEachLine(output, [&](QStringView line) { parser.line(line); });
    return parser.take();
}

QList<ServicePort> scan()
{
    QString listing;
    const QString tool = Platform::lsofPath();
    for (const QStringList& arguments : Platform::socketListingRuns()) {
        const auto result = ProcessRunner::run(tool, arguments);
        if (!listing.isEmpty() && !listing.endsWith(QLatin1Char('\n')))
            listing += QLatin1Char('\n');
        listing += result.stdOut;
    }
    QList<ServicePort> ports = parse(listing);
    detail::enrichWithRunningApps(ports);
    detail::enrichWithWorkingDir(ports);
    detail::sortByPortAndProtocol(ports);
    return ports;
}

} // namespace PortScanner

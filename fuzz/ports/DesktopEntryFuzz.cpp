// Desktop entries and the /proc files of a process (stat, status, cmdline, cgroup), as a system
// could hold them.
#include "ProcParsing.h"
#include "RunningAppsLinuxParsing.h"
#include "SystemdServices.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Platform::detail::parseDesktopEntry(bytes, {QStringLiteral("zh_CN"), QStringLiteral("zh")});
    if (const auto stat = Platform::detail::parseStat(bytes); stat && stat->parentPid < 0)
        __builtin_trap();
    Platform::detail::splitCommandLine(bytes);
    Platform::detail::effectiveUidFromStatus(bytes);
    Platform::detail::socketInodeOfLink(bytes);
    const QString cgroupPath = Platform::detail::unitCgroupPath(bytes);
    if (const auto unit = SystemdServices::unitOfCgroup(cgroupPath)) {
        if (!unit->name.endsWith(QLatin1String(".service")) ||
            unit->name.contains(QLatin1Char('/')))
            __builtin_trap();
    }

    const QString text = QString::fromUtf8(bytes);
    if (const auto unit = Platform::detail::applicationUnit(text)) {
        const bool unitName = unit->unitPath.endsWith(QLatin1String(".scope")) ||
                              unit->unitPath.endsWith(QLatin1String(".service")) ||
                              unit->unitPath.endsWith(QLatin1String(".slice"));
        if (unit->desktopId.isEmpty() || unit->desktopId.contains(QLatin1Char('/')) || !unitName)
            __builtin_trap();
    }
    return 0;
}

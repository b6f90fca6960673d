// Desktop entries and /proc cgroup files, as a system could hold them.
#include "RunningAppsLinuxParsing.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Platform::detail::parseDesktopEntry(bytes, {QStringLiteral("zh_CN"), QStringLiteral("zh")});
    Platform::detail::parentPidFromStat(bytes);

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

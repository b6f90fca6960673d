// The working-directory query's field output, as lsof could print it.
#include "PortScannerParsing.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto directories = PortScanner::detail::parseWorkingDirs(text);

    QList<ServicePort> ports;
    for (auto it = directories.cbegin(); it != directories.cend(); ++it)
        ports.append(ServicePort{
            {}, 1, QStringLiteral("TCP"), QStringLiteral("*"), it.key(), {}, {}, {}, {}, {}});
    PortScanner::detail::applyWorkingDirs(ports, directories);
    for (const ServicePort& port : ports) {
        if (!port.workingDir || *port.workingDir != directories.value(port.pid))
            __builtin_trap();
    }
    return 0;
}

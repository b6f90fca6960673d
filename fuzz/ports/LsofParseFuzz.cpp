// The socket listing's field output, as lsof could print it.
#include "PortScanner.h"
#include "PortScannerParsing.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto ports = PortScanner::parse(text);

    QSet<QString> keys;
    for (const ServicePort& port : ports) {
        if (port.port < 1 || port.address.isEmpty() || port.networkProtocol.isEmpty() ||
            port.appName || port.bundleID || port.workingDir)
            __builtin_trap();
        const QString key = QString::number(port.pid) + QLatin1Char('-') +
                            QString::number(port.port) + QLatin1Char('-') + port.networkProtocol;
        if (keys.contains(key))
            __builtin_trap();
        keys.insert(key);
    }

    // Each line on its own as a socket name.
    if (const auto address = PortScanner::detail::parseAddress(text)) {
        if (address->host.isEmpty() || address->port < 0 || text.contains(QStringLiteral("->")))
            __builtin_trap();
    }
    PortScanner::detail::decodeLsofText(text);
    return 0;
}

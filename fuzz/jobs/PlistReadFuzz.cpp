// A definition file's bytes, decoded as an XML or binary property list.

#include "LaunchctlParsing.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const LaunchctlManager::PlistContents contents = LaunchctlManager::decodePlist(bytes);
    if (contents.schedule && contents.schedule->isEmpty())
        __builtin_trap();
    return 0;
}

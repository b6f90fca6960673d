// An OnCalendar expression, as a manager might hand it over, put into words.

#include "TimerWords.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString expression =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString words = TimerWords::calendar(expression);
    // Words, or the expression itself: never nothing for something.
    if (words.isEmpty() != expression.isEmpty())
        __builtin_trap();
    if (words != expression && (words.contains(u'*') || words.contains(QLatin1String(".."))))
        __builtin_trap();
    return 0;
}

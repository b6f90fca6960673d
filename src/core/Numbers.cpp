#include "Numbers.h"

#include <limits>

namespace {

// Parses [+-]digits into a magnitude-checked 64-bit value; nullopt on anything else.
std::optional<qint64> parseSigned(QStringView text, bool allowSign, qint64 min, qint64 max)
{
    qsizetype i = 0;
    bool negative = false;
    if (allowSign && !text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the minimum of the range fits too.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (std::numeric_limits<qint64>::min() + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<qint64>::min())
            return std::nullopt;
        value = -value;
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<qint64> parseInt64Strict(QStringView text)
{
    return parseSigned(text, true, std::numeric_limits<qint64>::min(),
                       std::numeric_limits<qint64>::max());
}

std::optional<qint32> parseInt32Strict(QStringView text)
{
    const auto value = parseSigned(text, true, std::numeric_limits<qint32>::min(),
                                   std::numeric_limits<qint32>::max());
    if (!value)
        return std::nullopt;
    return static_cast<qint32>(*value);
}

std::optional<quint32> parseUInt32Strict(QStringView text)
{
    const auto value = parseSigned(text, false, 0, std::numeric_limits<quint32>::max());
    if (!value)
        return std::nullopt;
    return static_cast<quint32>(*value);
}

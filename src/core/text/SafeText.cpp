#include "SafeText.h"

#include <QStringDecoder>

namespace SafeText {
namespace {

bool needsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x200e || c == 0x200f || c == 0x061c;
}

void appendHex(QString& out, unsigned value, int digits)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += QLatin1Char(hex[(value >> shift) & 0xf]);
}

void appendEscape(QString& out, char16_t c)
{
    switch (c) {
    case u'\n':
        out += QLatin1String("\\n");
        return;
    case u'\t':
        out += QLatin1String("\\t");
        return;
    case u'\r':
        out += QLatin1String("\\r");
        return;
    default:
        break;
    }
    if (c <= 0xff) {
        out += QLatin1String("\\x");
        appendHex(out, c, 2);
    } else {
        out += QLatin1String("\\u");
        appendHex(out, c, 4);
    }
}

// The length of the valid UTF-8 sequence that starts at `at`, or 0 when none does.
qsizetype validSequenceAt(QByteArrayView bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    qsizetype length;
    unsigned char low = 0x80, high = 0xbf;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0; // overlong
        else if (lead == 0xed)
            high = 0x9f; // surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90; // overlong
        else if (lead == 0xf4)
            high = 0x8f; // beyond U+10FFFF
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        const unsigned char min = i == 1 ? low : 0x80;
        const unsigned char max = i == 1 ? high : 0xbf;
        if (next < min || next > max)
            return 0;
    }
    return length;
}

} // namespace

QString visible(QStringView text)
{
    qsizetype first = 0;
    while (first < text.size() && !needsEscape(text[first].unicode()))
        ++first;
    if (first == text.size())
        return text.toString();

    QString out;
    out.reserve(text.size() + 8);
    out += text.first(first);
    for (qsizetype at = first; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (needsEscape(c))
            appendEscape(out, c);
        else
            out += QChar(c);
    }
    return out;
}

QString fromBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    qsizetype runStart = 0;
    qsizetype at = 0;
    const auto flush = [&](qsizetype end) {
        if (end > runStart)
            out += QString::fromUtf8(bytes.sliced(runStart, end - runStart));
    };
    while (at < bytes.size()) {
        const qsizetype length = validSequenceAt(bytes, at);
        if (length > 0) {
            at += length;
            continue;
        }
        flush(at);
        out += QLatin1String("\\x");
        appendHex(out, static_cast<unsigned char>(bytes[at]), 2);
        ++at;
        runStart = at;
    }
    flush(at);
    return out;
}

} // namespace SafeText

#include "SafeText.h"

#include "Printing.h"

#include <gtest/gtest.h>

TEST(SafeText, EscapesWhatCouldHideOrReorderTheTextAroundIt)
{
    // A name that would draw as "eveman" if the override were let through.
    EXPECT_EQ(SafeText::visible(u"ev\u202Ename"), QStringLiteral("ev\\u202Ename"));
    EXPECT_EQ(SafeText::visible(u"a\u2066b\u2069c\u200Fd"),
              QStringLiteral("a\\u2066b\\u2069c\\u200Fd"));
    EXPECT_EQ(SafeText::visible(u"line\nnext\ttab\r\x07\x7f\u0085"),
              QStringLiteral("line\\nnext\\ttab\\r\\x07\\x7F\\x85"));
    // Ordinary text, Chinese and emoji included, is left alone.
    EXPECT_EQ(SafeText::visible(u"node 服务 🚀 ~/src"), QStringLiteral("node 服务 🚀 ~/src"));
}

TEST(SafeText, ShowsBytesThatAreNotUtf8AsHexAndKeepsValidText)
{
    EXPECT_EQ(SafeText::fromBytes("/srv/\xff\xfe-\xc3\xa9t\xc3\xa9"), QStringLiteral("/srv/\\xFF\\xFE-été"));
    // Overlong forms, surrogates, a sequence cut short and a stray continuation byte.
    EXPECT_EQ(SafeText::fromBytes("\xc0\xaf|\xed\xa0\x80|\xe4\xb8|\x80"),
              QStringLiteral("\\xC0\\xAF|\\xED\\xA0\\x80|\\xE4\\xB8|\\x80"));
    EXPECT_EQ(SafeText::fromBytes("中文 \xf0\x9f\x9a\x80"), QStringLiteral("中文 🚀"));
}

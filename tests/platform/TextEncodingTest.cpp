#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

namespace {

TEST(TextEncodingTest, ConvertsBothWaysAndRefusesWhatHasNoForm) {
    std::string cp936;
    ASSERT_TRUE(Utf8ToCp936("错误！a", cp936));
    EXPECT_EQ(cp936, "\xb4\xed\xce\xf3\xa3\xa1"
                     "a");
    std::string utf8;
    ASSERT_TRUE(Cp936ToUtf8(cp936, utf8));
    EXPECT_EQ(utf8, "错误！a");

    EXPECT_FALSE(Utf8ToCp936("\xF0\x9F\x98\x80", cp936)); // an emoji
    EXPECT_FALSE(Utf8ToCp936("\xC3", cp936));             // cut short
    EXPECT_FALSE(Cp936ToUtf8("\x81", utf8));              // lead byte without its partner
    EXPECT_TRUE(Cp936ToUtf8("", utf8));
    EXPECT_EQ(utf8, "");
}

} // namespace

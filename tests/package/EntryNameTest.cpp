#include "package/EntryName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(EntryNameTest, LowerCasingTouchesOnlyAsciiCapitalsWhereverTheyStand) {
    EXPECT_EQ(LowerCaseEntryName("DATA/A.TXT"), "data/a.txt");
    // Also the second byte of a double-byte character.
    EXPECT_EQ(LowerCaseEntryName("\x81\x41"), "\x81\x61");
    EXPECT_EQ(LowerCaseEntryName("\xC0\xC1\xDA\xFE[]@"), "\xC0\xC1\xDA\xFE[]@");
}

TEST(EntryNameTest, KindFollowsTheEnding) {
    EXPECT_EQ(EntryKindOf("res.pak"), EntryKind::Pak);
    EXPECT_EQ(EntryKindOf("RES.PAK"), EntryKind::Pak);
    EXPECT_EQ(EntryKindOf("dir.pak/"), EntryKind::Directory);
    EXPECT_EQ(EntryKindOf("data/"), EntryKind::Directory);
    EXPECT_EQ(EntryKindOf("data/a.txt"), EntryKind::File);
    EXPECT_EQ(EntryKindOf("pak"), EntryKind::File);
}

TEST(EntryNameTest, NamesThatCouldLeaveTheGameDirectoryAreUnsafe) {
    using namespace std::string_literals;
    for (const std::string& name :
         std::vector<std::string>{"", "/a", "\\a", "..", "../a", "a/..", "a/../b", "a\\..\\b",
                                  "c:a", "a:b", ".. /a", "a/.../b", "a\0b"s,
                                  // A lead byte does not swallow what cannot end a character.
                                  "a\x81\0b"s, "a\x81/../x", "\x81:"}) {
        EXPECT_FALSE(IsSafeEntryName(name)) << name;
    }
    for (const std::string& name :
         std::vector<std::string>{"a", "a/b/", "a..b", ". ", "./a", "a//b", "\x95\x5c..",
                                  "\x95\x5c\x95\x5c/x", "\x81"}) {
        EXPECT_TRUE(IsSafeEntryName(name)) << name;
    }
    // A lone lead byte at the end is no character: the backslash before the ".." still counts.
    EXPECT_FALSE(IsSafeEntryName("a\\..\\\x95"));
}

} // namespace

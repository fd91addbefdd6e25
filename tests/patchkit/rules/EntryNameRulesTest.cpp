#include "rules/EntryNameRules.h"

#include <gtest/gtest.h>

namespace {

// 说明 in code page 936.
const std::string kShuoMing = "\xcb\xb5\xc3\xf7";
// U+4E04: its second byte is 'A'.
const std::string kSecondByteA = "\x81\x41";
// U+4E57: its second byte is a backslash.
const std::string kSecondByteBackslash = "\x81\x5c";
// U+4E85: its second byte is '|'.
const std::string kSecondBytePipe = "\x81\x7c";

TEST(EntryNameRulesTest, JudgesNamesAsTheUpdaterWouldWriteThem) {
    EXPECT_EQ(CheckEntryName("data/" + kShuoMing + ".txt"), NameProblem::None);
    EXPECT_EQ(CheckEntryName("DATA/A.TXT"), NameProblem::None);
    EXPECT_EQ(CheckEntryName(kSecondBytePipe + ".txt"), NameProblem::None);
    EXPECT_EQ(CheckEntryName(kSecondByteBackslash + ".txt"), NameProblem::None);

    EXPECT_EQ(CheckEntryName("\xff\xfe.txt"), NameProblem::NotCodePage936);
    EXPECT_EQ(CheckEntryName("a\x81"), NameProblem::NotCodePage936);

    EXPECT_EQ(CheckEntryName("../game.exe"), NameProblem::Unsafe);
    EXPECT_EQ(CheckEntryName("c:x.txt"), NameProblem::Unsafe);

    EXPECT_EQ(CheckEntryName("what?.txt"), NameProblem::ForbiddenOnWindows);
    EXPECT_EQ(CheckEntryName("a|b"), NameProblem::ForbiddenOnWindows);
    EXPECT_EQ(CheckEntryName("tab\there"), NameProblem::ForbiddenOnWindows);

    EXPECT_EQ(CheckEntryName("data/" + kSecondByteA + ".txt"), NameProblem::RenamedByLowerCasing);
}

TEST(EntryNameRulesTest, UpperCaseLettersCountOnlyAsCharactersOfTheirOwn) {
    EXPECT_TRUE(HasUpperCaseLetters("Data/a.txt"));
    EXPECT_FALSE(HasUpperCaseLetters("data/a.txt"));
    EXPECT_FALSE(HasUpperCaseLetters(kSecondByteA + ".txt"));
}

TEST(EntryNameRulesTest, WrittenPathsAndTheirFolders) {
    EXPECT_EQ(WrittenPath("DATA/A.TXT"), "data/a.txt");
    EXPECT_EQ(WrittenPath(kSecondByteA), "\x81\x61");
    // A backslash separates folders, except as the second byte of a character.
    EXPECT_EQ(WrittenPath("Sub\\" + kSecondByteBackslash + ".TXT"),
              "sub/" + kSecondByteBackslash + ".txt");

    EXPECT_EQ(DirectoryOfEntry("Data/Sub/a.txt"), "data/sub/");
    EXPECT_EQ(DirectoryOfEntry("a.txt"), "");
    EXPECT_EQ(DirectoryOfEntry(kSecondByteBackslash + ".txt"), "");
    EXPECT_EQ(DirectoriesCreatedBy("Data/Sub/"), (std::vector<std::string>{"data/", "data/sub/"}));
}

} // namespace

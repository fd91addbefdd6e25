#include "engine/Messages.h"
#include "engine/VersionLabels.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <string>

namespace {

// The texts as the player reads them, converted at test time by the system's own converter.
std::string Utf8ToGbkIndependently(const std::string& utf8) {
    iconv_t converter = iconv_open("GBK", "UTF-8");
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* next = &out[0];
    size_t outLeft = out.size();
    const size_t result = iconv(converter, &in, &inLeft, &next, &outLeft);
    iconv_close(converter);
    EXPECT_NE(result, static_cast<size_t>(-1)) << utf8;
    out.resize(out.size() - outLeft);
    return out;
}

TEST(MessagesTest, TableHoldsEachMessageInItsEncoding) {
    const struct {
        Message message;
        MessageVariant variant;
        const char* utf8;
        const wchar_t* wide;
    } expected[] = {
        {Message::CannotOpenPackage, MessageVariant::Narrow, "无法打开补丁文件，请重新下载！",
         nullptr},
        {Message::CannotReadLocalVersion, MessageVariant::Narrow, "无法得到本地版本！", nullptr},
        {Message::AlreadyUpToDate, MessageVariant::Wide, nullptr,
         L"您的本地版本已经是%d，不需要进行升级！"},
        {Message::VersionSkipped, MessageVariant::Wide, nullptr,
         L"您的本地版本是%d，手动更新包的版本为%d，请不要跨越版本号升级！"},
        {Message::PackageWithdrawn, MessageVariant::Narrow,
         "官方进行大规模版本提升，此手动更新包已经作废，请重新下载最新客户端！", nullptr},
        {Message::CannotCreateTemporaryArchive, MessageVariant::Wide, nullptr,
         L"无法创建临时文件，请确保磁盘有足够可用空间！"},
        {Message::CannotReadPackage, MessageVariant::Narrow, "读取补丁文件失败！", nullptr},
        {Message::PakFileMissing, MessageVariant::Narrow, "无法找到原始pak文件！", nullptr},
        {Message::WriteCameUpShort, MessageVariant::Narrow, "更新文件失败，是否磁盘空间不够！",
         nullptr},
        {Message::CannotWriteFile, MessageVariant::Narrow,
         "更新文件失败，请关闭之前打开的客户端并检查是否磁盘空间不够！", nullptr},
    };
    ASSERT_EQ(std::size(kMessageTexts), std::size(expected));
    for (int number = 1; number <= 10; ++number) {
        const auto& want = expected[number - 1];
        const MessageText& text = TextOf(static_cast<Message>(number));
        SCOPED_TRACE(number);
        EXPECT_EQ(text.message, want.message);
        EXPECT_EQ(text.variant, want.variant);
        if (want.variant == MessageVariant::Narrow) {
            ASSERT_NE(text.narrow, nullptr);
            EXPECT_EQ(std::string(text.narrow), Utf8ToGbkIndependently(want.utf8));
            EXPECT_EQ(text.wide, nullptr);
        } else {
            ASSERT_NE(text.wide, nullptr);
            EXPECT_EQ(std::wstring(text.wide), want.wide);
            EXPECT_EQ(text.narrow, nullptr);
        }
    }
    EXPECT_EQ(std::string(kErrorCaptionNarrow), Utf8ToGbkIndependently("错误！"));
}

TEST(MessagesTest, VersionsInMessagesArePrintedAsUnsignedDecimals) {
    EXPECT_EQ(AlreadyUpToDateText(3187), L"您的本地版本已经是3187，不需要进行升级！");
    EXPECT_EQ(VersionSkippedText(3185, 3187),
              L"您的本地版本是3185，手动更新包的版本为3187，请不要跨越版本号升级！");
    EXPECT_EQ(VersionSkippedText(4294967295u, 4294967295u),
              L"您的本地版本是4294967295，手动更新包的版本为4294967295，请不要跨越版本号升级！");
}

TEST(MessagesTest, VersionLabelsShowHundredthsWithTwoDecimals) {
    EXPECT_EQ(LatestVersionLabel(3187), L"最新版本： 31.87");
    EXPECT_EQ(LocalVersionLabel(3186), L"本地版本： 31.86");
    EXPECT_EQ(LocalVersionLabel(100), L"本地版本： 1.00");
    EXPECT_EQ(LocalVersionLabel(5), L"本地版本： 0.05");
    EXPECT_EQ(LocalVersionLabel(0), L"本地版本： 0.00");
    // Single precision: 42949672.95 has no float of its own.
    EXPECT_EQ(LocalVersionLabel(4294967295u), L"本地版本： 42949672.00");
}

} // namespace

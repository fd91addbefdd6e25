#pragma once

#include <cstdint>
#include <string>

// The messages of the update run. Each keeps the encoding it has always been shown in: narrow
// texts are code page 936 bytes for the ANSI message box, wide texts go to the wide message box.
enum class Message {
    CannotOpenPackage = 1,
    CannotReadLocalVersion = 2,
    AlreadyUpToDate = 3,
    VersionSkipped = 4,
    PackageWithdrawn = 5,
    CannotCreateTemporaryArchive = 6,
    CannotReadPackage = 7,
    PakFileMissing = 8,
    WriteCameUpShort = 9,
    CannotWriteFile = 10,
};

enum class MessageVariant { Narrow, Wide };

struct MessageText {
    Message message;
    MessageVariant variant;
    const char* narrow;  // code page 936 bytes, or nullptr for a wide message
    const wchar_t* wide; // nullptr for a narrow message; messages 3 and 4 hold "%d" placeholders
};

// In message order: kMessageTexts[n - 1] is message n.
inline constexpr MessageText kMessageTexts[] = {
    // 无法打开补丁文件，请重新下载！
    {Message::CannotOpenPackage, MessageVariant::Narrow,
     "\xce\xde\xb7\xa8\xb4\xf2\xbf\xaa\xb2\xb9\xb6\xa1\xce\xc4\xbc\xfe\xa3\xac\xc7\xeb\xd6\xd8\xd0"
     "\xc2\xcf\xc2\xd4\xd8\xa3\xa1",
     nullptr},
    // 无法得到本地版本！
    {Message::CannotReadLocalVersion, MessageVariant::Narrow,
     "\xce\xde\xb7\xa8\xb5\xc3\xb5\xbd\xb1\xbe\xb5\xd8\xb0\xe6\xb1\xbe\xa3\xa1", nullptr},
    {Message::AlreadyUpToDate, MessageVariant::Wide, nullptr,
     L"您的本地版本已经是%d，不需要进行升级！"},
    {Message::VersionSkipped, MessageVariant::Wide, nullptr,
     L"您的本地版本是%d，手动更新包的版本为%d，请不要跨越版本号升级！"},
    // 官方进行大规模版本提升，此手动更新包已经作废，请重新下载最新客户端！
    {Message::PackageWithdrawn, MessageVariant::Narrow,
     "\xb9\xd9\xb7\xbd\xbd\xf8\xd0\xd0\xb4\xf3\xb9\xe6\xc4\xa3\xb0\xe6\xb1\xbe\xcc\xe1\xc9\xfd\xa3"
     "\xac\xb4\xcb\xca\xd6\xb6\xaf\xb8\xfc\xd0\xc2\xb0\xfc\xd2\xd1\xbe\xad\xd7\xf7\xb7\xcf\xa3\xac"
     "\xc7\xeb\xd6\xd8\xd0\xc2\xcf\xc2\xd4\xd8\xd7\xee\xd0\xc2\xbf\xcd\xbb\xa7\xb6\xcb\xa3\xa1",
     nullptr},
    {Message::CannotCreateTemporaryArchive, MessageVariant::Wide, nullptr,
     L"无法创建临时文件，请确保磁盘有足够可用空间！"},
    // 读取补丁文件失败！
    {Message::CannotReadPackage, MessageVariant::Narrow,
     "\xb6\xc1\xc8\xa1\xb2\xb9\xb6\xa1\xce\xc4\xbc\xfe\xca\xa7\xb0\xdc\xa3\xa1", nullptr},
    // 无法找到原始pak文件！
    {Message::PakFileMissing, MessageVariant::Narrow,
     "\xce\xde\xb7\xa8\xd5\xd2\xb5\xbd\xd4\xad\xca\xbc"
     "pak"
     "\xce\xc4\xbc\xfe\xa3\xa1",
     nullptr},
    // 更新文件失败，是否磁盘空间不够！
    {Message::WriteCameUpShort, MessageVariant::Narrow,
     "\xb8\xfc\xd0\xc2\xce\xc4\xbc\xfe\xca\xa7\xb0\xdc\xa3\xac\xca\xc7\xb7\xf1\xb4\xc5\xc5\xcc\xbf"
     "\xd5\xbc\xe4\xb2\xbb\xb9\xbb\xa3\xa1",
     nullptr},
    // 更新文件失败，请关闭之前打开的客户端并检查是否磁盘空间不够！
    {Message::CannotWriteFile, MessageVariant::Narrow,
     "\xb8\xfc\xd0\xc2\xce\xc4\xbc\xfe\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xb9\xd8\xb1\xd5\xd6\xae\xc7"
     "\xb0\xb4\xf2\xbf\xaa\xb5\xc4\xbf\xcd\xbb\xa7\xb6\xcb\xb2\xa2\xbc\xec\xb2\xe9\xca\xc7\xb7\xf1"
     "\xb4\xc5\xc5\xcc\xbf\xd5\xbc\xe4\xb2\xbb\xb9\xbb\xa3\xa1",
     nullptr},
};

// The caption of every message box of the update run, "错误！", in both encodings.
inline constexpr const char* kErrorCaptionNarrow = "\xb4\xed\xce\xf3\xa3\xa1";
inline constexpr const wchar_t* kErrorCaptionWide = L"错误！";

constexpr const MessageText& TextOf(Message message) {
    return kMessageTexts[static_cast<int>(message) - 1];
}

// Messages 3 and 4 with their versions printed as unsigned decimals.
std::wstring AlreadyUpToDateText(std::uint32_t localVersion);
std::wstring VersionSkippedText(std::uint32_t localVersion, std::uint32_t packageVersion);

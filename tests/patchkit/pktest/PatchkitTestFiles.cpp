#include "pktest/PatchkitTestFiles.h"

#include "support/PackageBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <system_error>

namespace pktest {

namespace {

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

std::string Der(unsigned char tag, const std::string& content) {
    std::string header(1, static_cast<char>(tag));
    std::string length;
    for (std::size_t left = content.size(); left != 0; left >>= 8) {
        length.insert(length.begin(), static_cast<char>(left & 0xFF));
    }
    if (content.size() < 0x80) {
        header += static_cast<char>(content.size());
    } else {
        header += static_cast<char>(0x80 | length.size()) + length;
    }
    return header + content;
}

constexpr std::size_t kPeHeader = 0x40;
constexpr std::size_t kOptionalHeader = kPeHeader + 4 + 20;
constexpr std::size_t kSecurityEntry = kOptionalHeader + 96 + 4 * 8;

} // namespace

std::string AttachSignature(const std::string& file, const std::string& signature) {
    std::string signedFile = file + std::string((8 - file.size() % 8) % 8, '\0');
    std::string entry(8, '\0');
    testsupport::PutLittleEndian32(entry, 0, static_cast<std::uint32_t>(8 + signature.size()));
    Put16(entry, 4, 0x0200);
    Put16(entry, 6, 0x0002);
    entry += signature + std::string((8 - signature.size() % 8) % 8, '\0');
    testsupport::PutLittleEndian32(signedFile, kSecurityEntry,
                                   static_cast<std::uint32_t>(signedFile.size()));
    testsupport::PutLittleEndian32(signedFile, kSecurityEntry + 4,
                                   static_cast<std::uint32_t>(entry.size()));
    return signedFile + entry;
}

std::string ShapedSignature(const std::string& filler, bool unauthenticatedAttribute) {
    const std::string oid("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 11);
    const std::string version("\x02\x01\x01", 3);
    std::string signer = version + Der(0x04, "signed digest");
    if (unauthenticatedAttribute) {
        signer += Der(0xA1, Der(0x30, Der(0x06, "\x2B\x06\x01") + Der(0x31, Der(0x04, "x"))));
    }
    const std::string signedData = version + Der(0x31, "") + Der(0x30, Der(0x06, "\x2B\x06")) +
                                   Der(0xA0, Der(0x04, filler)) + Der(0x31, Der(0x30, signer));
    return Der(0x30, oid + Der(0xA0, Der(0x30, signedData)));
}

std::string MinimalPeImage() {
    constexpr std::size_t kOptionalHeaderSize = 0xE0;
    constexpr std::size_t kSectionTable = kPeHeader + 4 + 20 + kOptionalHeaderSize;
    std::string image(0x400, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    testsupport::PutLittleEndian32(image, 0x3C, kPeHeader);
    image.replace(kPeHeader, 4, std::string("PE\0\0", 4));
    Put16(image, kPeHeader + 4, 0x014C); // i386
    Put16(image, kPeHeader + 6, 1);      // sections
    Put16(image, kPeHeader + 20, kOptionalHeaderSize);
    Put16(image, kPeHeader + 22, 0x0102);  // executable, 32-bit
    Put16(image, kOptionalHeader, 0x010B); // PE32
    image[kOptionalHeader + 92] = 16;      // data directories
    image.replace(kSectionTable, 5, ".text");
    testsupport::PutLittleEndian32(image, kSectionTable + 16, 0x200); // raw size
    testsupport::PutLittleEndian32(image, kSectionTable + 20, 0x200); // raw start
    image.replace(0x200, 0x200, std::string(0x200, '\xCC'));
    return image;
}

bool PutFile(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code failure;
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), failure);
    }
    return !failure && testsupport::WriteBinaryFile(path, bytes);
}

Outcome Patchkit(const std::string& arguments) {
    const std::string command = std::string("'") + PATCHKIT_PROGRAM + "' " + arguments +
                                " >patchkit-out.txt 2>patchkit-err.txt";
    const int status = std::system(command.c_str());
    Outcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = testsupport::ReadBinaryFile("patchkit-out.txt");
    outcome.err = testsupport::ReadBinaryFile("patchkit-err.txt");
    return outcome;
}

int Shell(const std::string& command) {
    const int status = std::system((command + " >tool-out.txt 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> TreeOf(const std::filesystem::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = item.path().lexically_relative(root).generic_u8string();
        tree[name] = item.is_directory()      ? "<folder>"
                     : item.is_regular_file() ? testsupport::ReadBinaryFile(item.path())
                                              : "<special>";
    }
    return tree;
}

void MakeRelease(const std::string& folder, std::uint32_t version, std::int64_t pakOffset,
                 const Files& files) {
    ASSERT_TRUE(PutFile(folder + "/version.ini",
                        std::to_string(version) + "\r\n" + std::to_string(pakOffset) + "\r\n"));
    for (const auto& [name, contents] : files) {
        if (name.back() == '/') {
            std::filesystem::create_directories(std::filesystem::u8path(folder + "/" + name));
        } else {
            ASSERT_TRUE(PutFile(std::filesystem::u8path(folder + "/" + name), contents));
        }
    }
}

} // namespace pktest

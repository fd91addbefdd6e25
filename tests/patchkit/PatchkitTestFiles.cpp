#include "PatchkitTestFiles.h"

#include "PackageBuilder.h"

#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <system_error>

namespace pktest {

namespace {

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

} // namespace

std::string MinimalPeImage() {
    constexpr std::size_t kPeHeader = 0x40;
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
    Put16(image, kPeHeader + 22, 0x0102); // executable, 32-bit
    Put16(image, kPeHeader + 24, 0x010B); // PE32
    image.replace(kSectionTable, 5, ".text");
    testsupport::PutLittleEndian32(image, kSectionTable + 16, 0x200); // raw size
    testsupport::PutLittleEndian32(image, kSectionTable + 20, 0x200); // raw start
    image.replace(0x200, 0x200, std::string(0x200, '\xCC'));
    return image;
}

std::string NoiseData(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string data(size, '\0');
    for (char& byte : data) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return data;
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

} // namespace pktest

// Writes the fuzz targets' seed corpora: OUT/trailer, OUT/local_state and OUT/run_patch.
// Packages are small so that the fuzzer's mutations stay fast.

#include "support/PackageBuilder.h"

#include <cstdio>
#include <vector>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

constexpr std::uint32_t kVersion = 3188;

std::string Package(const std::vector<ZipEntry>& entries) {
    return BuildPackage(BuildZipArchive(entries), kVersion, std::string(64, 'S'));
}

std::vector<std::string> RunPatchSeeds() {
    const std::string pak = PatternedData(6000, 3);
    std::string badCrc = BuildZipArchive({{"res.pak", pak}});
    SetEntryCrc(badCrc, 0, 0x12345678);
    std::string longer = BuildZipArchive({{"data/a.txt", PatternedData(3000, 4)}});
    SetEntryUncompressedSize(longer, 0, 9000);
    const std::string twoEntries =
        BuildZipArchive({{"data/", ""}, {"data/a.txt", PatternedData(500, 5)}});
    return {
        Package({{"res.pak", pak}}),
        Package({{"RES.PAK", pak, Storage::Stored}}),
        Package({{"data/", ""},
                 {"data/sub/", ""},
                 {"DATA/SUB/A.TXT", PatternedData(2000, 6)},
                 {"data/empty.txt", ""},
                 {"readme.txt", "hello", Storage::Stored}}),
        // A double-byte character whose second byte is a backslash, and one lower-cased.
        Package({{"data/", ""}, {"data/\x95\x5c.txt", "x"}, {"data/\x81\x41.txt", "y"}}),
        Package({}),
        Package({{"../outside.txt", "x"}}),
        Package({{"a.pak", "1"}, {"b.pak", "2"}}),
        BuildPackage(badCrc, kVersion, std::string(64, 'S')),
        BuildPackage(longer, kVersion, std::string(64, 'S')),
        BuildPackage(twoEntries.substr(0, twoEntries.size() - 30), kVersion, std::string(64, 'S')),
        BuildPackage("", kVersion, std::string(64, 'S')),
    };
}

std::vector<std::string> TrailerSeeds() {
    std::string beyond = Package({{"a.txt", "a"}});
    PutLittleEndian32(beyond, beyond.size() - 8, static_cast<std::uint32_t>(beyond.size()));
    std::string atEnd(40, 'S');
    atEnd += std::string("\x20\0\0\0\x74\x0c\0\0", 8);
    return {"", "1234567", std::string(8, '\0'), Package({{"res.pak", "pak"}}), beyond, atEnd};
}

std::vector<std::string> LocalStateSeeds() {
    return {"3186\r\n0\r\n",
            "3186\r\n1478644\r\n",
            "3186",
            "3186 99",
            "  \t3186\n\n  42",
            "\xEF\xBB\xBF"
            "3186\r\n0\r\n",
            "0\r\n5\r\n",
            "abc",
            "-1\r\n-5\r\n",
            "-1\r\n7\r\n",
            "99999999999\r\n99999999999999999999\r\n",
            "+12\r\n+0x10\r\n",
            ""};
}

bool WriteCorpus(const fs::path& folder, const std::vector<std::string>& seeds) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "%s: %s\n", folder.c_str(), error.message().c_str());
        return false;
    }
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        const fs::path file = folder / ("seed-" + std::to_string(i));
        if (!WriteBinaryFile(file, seeds[i])) {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUT\n");
        return 2;
    }
    const fs::path out = argv[1];
    const bool written = WriteCorpus(out / "trailer", TrailerSeeds()) &&
                         WriteCorpus(out / "local_state", LocalStateSeeds()) &&
                         WriteCorpus(out / "run_patch", RunPatchSeeds());
    return written ? 0 : 1;
}

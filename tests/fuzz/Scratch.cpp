#include "Scratch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path MakeScratchFolder() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    std::string pattern = ((error ? fs::path("/tmp") : base) / "qrt-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        PropertyFailed("cannot create the scratch folder");
    }
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(ScratchFolder(), ignored);
    });
    return pattern;
}

} // namespace

const fs::path& ScratchFolder() {
    static const fs::path folder = MakeScratchFolder();
    return folder;
}

void WriteWholeFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        PropertyFailed("cannot create an input file");
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        PropertyFailed("cannot write an input file");
    }
}

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void PropertyFailed(const char* what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

// Writes the benchmark's input from a fixed seed: OUT/update (the folder a package is built from:
// one res.pak and nested folders of files) and OUT/game (the game folder the package applies to).
// Usage: benchdata OUT [DIVISOR]; DIVISOR 10 gives a package ten times smaller.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSeed = 0x5eed2026;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kFullPakSize = 512 * kMiB;
constexpr int kFullFileCount = 2000;
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::uint32_t kLocalVersion = 3187;

class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    // splitmix64: fast, and the same sequence on every machine.
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }

private:
    std::uint64_t m_state;
};

// Half the blocks are random bytes (deflate stores them), half are text of a small vocabulary
// (deflate shrinks it about three times): the mix of a game's textures and its scripts.
class MixedContent {
public:
    explicit MixedContent(Random& random) : m_random(random) {
        for (int i = 0; i < 300; ++i) {
            std::string word;
            const std::size_t length = 2 + m_random.Below(9);
            for (std::size_t j = 0; j < length; ++j) {
                word += static_cast<char>('a' + m_random.Below(26));
            }
            m_words.push_back(word);
        }
    }

    void FillBlock(std::vector<char>& block) {
        if (m_random.Below(2) == 0) {
            FillRandom(block);
        } else {
            FillText(block);
        }
    }

private:
    void FillRandom(std::vector<char>& block) {
        for (std::size_t i = 0; i < block.size(); i += 8) {
            std::uint64_t value = m_random.Next();
            for (std::size_t j = i; j < i + 8 && j < block.size(); ++j, value >>= 8) {
                block[j] = static_cast<char>(value & 0xFF);
            }
        }
    }

    void FillText(std::vector<char>& block) {
        std::size_t at = 0;
        while (at < block.size()) {
            const std::string& word = m_words[m_random.Below(m_words.size())];
            for (std::size_t j = 0; j < word.size() && at < block.size(); ++j) {
                block[at++] = word[j];
            }
            if (at < block.size()) {
                block[at++] = m_random.Below(12) == 0 ? '\n' : ' ';
            }
        }
    }

    Random& m_random;
    std::vector<std::string> m_words;
};

bool WriteContent(const fs::path& path, std::uint64_t size, MixedContent& content) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    std::vector<char> block(kBlockSize);
    bool written = true;
    for (std::uint64_t left = size; left != 0 && written;) {
        const std::size_t piece = left < kBlockSize ? static_cast<std::size_t>(left) : kBlockSize;
        block.resize(piece);
        content.FillBlock(block);
        written = std::fwrite(block.data(), 1, piece, file) == piece;
        left -= piece;
    }
    if (std::fclose(file) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

bool WriteText(const fs::path& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

bool MakeDirectory(const fs::path& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

// Files of 1 KiB to 4 MiB, skewed towards small ones, in folders three levels deep.
bool WriteUpdateFiles(const fs::path& update, int count, Random& random, MixedContent& content) {
    for (int i = 0; i < count; ++i) {
        const double skew = random.Unit();
        const auto size = static_cast<std::uint64_t>(1024.0 * std::exp2(12.0 * skew * skew));
        const fs::path folder = update / ("d" + std::to_string(random.Below(8))) /
                                ("s" + std::to_string(random.Below(6))) /
                                ("t" + std::to_string(random.Below(4)));
        static const char* const kExtensions[] = {".dat", ".txt", ".tex", ".lua"};
        const fs::path file = folder / ("f" + std::to_string(i) + kExtensions[random.Below(4)]);
        if (!MakeDirectory(folder) || !WriteContent(file, size, content)) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: benchdata OUT [DIVISOR]\n");
        return 2;
    }
    const fs::path out = argv[1];
    const long divisor = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 1;
    if (divisor < 1) {
        std::fprintf(stderr, "benchdata: DIVISOR must be a positive integer\n");
        return 2;
    }
    const auto scale = static_cast<std::uint64_t>(divisor);
    Random random(kSeed);
    MixedContent content(random);
    const fs::path update = out / "update";
    const fs::path game = out / "game";
    const bool made =
        MakeDirectory(update) && MakeDirectory(game) &&
        WriteContent(update / "res.pak", kFullPakSize / scale, content) &&
        WriteUpdateFiles(update, static_cast<int>(kFullFileCount / divisor), random, content) &&
        WriteContent(game / "res.pak", 8 * kMiB / scale, content) &&
        WriteText(game / "version.ini", std::to_string(kLocalVersion) + "\r\n0\r\n");
    return made ? 0 : 1;
}

// Throws through the runtime's and our own frames and catches each time, linked as the updater is
// (only the code it reaches): exit status 0 when every exception reached its catch.
#include <boost/format.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

template <typename Exception, typename Action> bool Caught(const char* what, Action action) {
    try {
        action();
    } catch (const Exception&) {
        return true;
    } catch (...) {
        std::printf("%s: caught as another type\n", what);
        return false;
    }
    std::printf("%s: nothing thrown\n", what);
    return false;
}

// Keeps the compiler from seeing what the probes do with their arguments.
volatile std::size_t g_hugeSize = static_cast<std::size_t>(-1) / 2;

} // namespace

int main(int argc, char** argv) {
    const std::string text(argv[0]);
    int missed = 0;
    missed += !Caught<std::out_of_range>("string::at", [&] {
        std::printf("%c", text.at(text.size() + static_cast<std::size_t>(argc)));
    });
    missed += !Caught<std::bad_alloc>("memory", [] {
        const std::unique_ptr<char[]> block(new char[g_hugeSize]);
        std::printf("%p", static_cast<void*>(block.get()));
    });
    missed += !Caught<std::length_error>("vector", [] {
        std::vector<std::wstring> words(g_hugeSize);
        std::printf("%u", static_cast<unsigned>(words.size()));
    });
    missed += !Caught<std::filesystem::filesystem_error>("filesystem", [] {
        const std::filesystem::path missing = std::filesystem::path(L"no-such-folder") / L"file";
        std::printf("%u", static_cast<unsigned>(std::filesystem::file_size(missing)));
    });
    missed += !Caught<boost::io::too_many_args>(
        "format", [] { std::printf("%ls", boost::str(boost::wformat(L"%1%") % 1 % 2).c_str()); });
    std::printf("%d missed\n", missed);
    return missed;
}

// Any version.ini: a state read is valid, and writing it back then reading it again gives the same
// state in the exact text the updater writes.

#include "Scratch.h"
#include "package/LocalState.h"

#include <cinttypes>
#include <cstdio>
#include <unistd.h>

namespace {

void EnterScratchFolder() {
    static const bool entered = chdir(ScratchFolder().c_str()) == 0;
    if (!entered) {
        PropertyFailed("cannot enter the scratch folder");
    }
}

std::string ExpectedText(const LocalState& state) {
    char text[64];
    std::snprintf(text, sizeof text, "%" PRId32 "\r\n%" PRId64 "\r\n",
                  static_cast<std::int32_t>(state.localVersion), state.pakAppendOffset);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EnterScratchFolder();
    WriteWholeFile(kLocalStateFileName, data, size);
    LocalState state;
    if (!ReadLocalState(state)) {
        if (ReadWholeFile(kLocalStateFileName) !=
            std::string(reinterpret_cast<const char*>(data), size)) {
            PropertyFailed("a failed read changed version.ini");
        }
        return 0;
    }
    if (state.localVersion == 0 || state.pakAppendOffset < 0) {
        PropertyFailed("an invalid state was accepted");
    }
    if (!WriteLocalState(state)) {
        PropertyFailed("a state that was read cannot be written back");
    }
    if (ReadWholeFile(kLocalStateFileName) != ExpectedText(state)) {
        PropertyFailed("version.ini is not written as two CR LF lines");
    }
    LocalState reread;
    if (!ReadLocalState(reread) || reread.localVersion != state.localVersion ||
        reread.pakAppendOffset != state.pakAppendOffset) {
        PropertyFailed("the state written back reads differently");
    }
    return 0;
}

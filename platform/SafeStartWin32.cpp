// The entry point of the Windows programs, ahead of the C runtime's: they are run with
// administrator rights straight from a download folder, where a web page can leave a DLL of any
// name. Nothing of the runtime is set up here yet; only kernel32 (a KnownDLL, loaded from System32
// before any code runs) is called.
// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>
#include <winnt.h>

extern "C" int WinMainCRTStartup();
extern "C" int mainCRTStartup();

namespace {

// GetProcAddress's result as the function it is; the detour through a function pointer without
// arguments is the one the compiler accepts between function types.
template <typename Function> Function Kernel32Function(const char* name) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel32 != nullptr ? GetProcAddress(kernel32, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// Every DLL loaded from here on (the delay-loaded imports and whatever they pull in) comes from
// System32 alone; the current folder leaves the search as well. Windows 7 without its update
// 2533623 lacks the call: there only the current folder is taken out.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
    const auto setDefault =
        Kernel32Function<SetDefaultDllDirectoriesCall>("SetDefaultDllDirectories");
    if (setDefault != nullptr) {
        static_cast<void>(setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32));
    }
    static_cast<void>(SetDllDirectoryW(L""));
    // Wine resolves the delay imports of its own DLLs without the restriction: uxtheme, drawing
    // the progress bar, took msimg32 from the program's folder. Loaded from System32 now, it is
    // the one every later load by name finds. Windows needs none of this.
    static_cast<void>(LoadLibraryExW(L"msimg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// The system's own guards where it has them (Windows 10 and later); elsewhere, and under Wine,
// the program goes on without them. Redirection Guard: junctions made by users who are not
// administrators are not followed. Image loads: System32 first, nothing from a network share or
// from a file a low-integrity process could have written.
void ApplyMitigationPolicies() {
    using SetPolicyCall = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const auto setPolicy = Kernel32Function<SetPolicyCall>("SetProcessMitigationPolicy");
    if (setPolicy == nullptr) {
        return;
    }
    PROCESS_MITIGATION_IMAGE_LOAD_POLICY imageLoad{};
    imageLoad.NoRemoteImages = 1;
    imageLoad.NoLowMandatoryLabelImages = 1;
    imageLoad.PreferSystem32Images = 1;
    static_cast<void>(setPolicy(ProcessImageLoadPolicy, &imageLoad, sizeof imageLoad));
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY redirection{};
    redirection.EnforceRedirectionTrust = 1;
    static_cast<void>(setPolicy(ProcessRedirectionTrustPolicy, &redirection, sizeof redirection));
}

constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfiguration() {
    IMAGE_LOAD_CONFIG_DIRECTORY configuration{};
    configuration.Size = sizeof configuration;
    configuration.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return configuration;
}

void StartSafely() {
    RestrictDllSearch();
    ApplyMitigationPolicies();
}

} // namespace

// The load configuration carrying DependentLoadFlags (called Reserved1 by mingw's header):
// Windows 10 1607 and later load the static imports themselves from System32 alone. GNU ld does
// not point the image's load configuration entry at it; a step after the link does, finding it
// by its section. No code refers to it: the link names it (--undefined) so that dropping unused
// sections keeps it.
extern "C" __attribute__((used, section(".qrtlcf"))) alignas(8) const IMAGE_LOAD_CONFIG_DIRECTORY
    QrtLoadConfiguration = LoadConfiguration();

extern "C" int QrtWindowsEntry() {
    StartSafely();
    return WinMainCRTStartup();
}

extern "C" int QrtConsoleEntry() {
    StartSafely();
    return mainCRTStartup();
}

// Stands in for a DLL a web page left in the download folder beside the updater: the end-to-end
// tests copy it there under the names such attacks use. Loaded into a process, it leaves the file
// "loaded-NAME-by-PROGRAM" beside itself, so the test sees which program took it.
// windef.h first; only kernel headers.
#include <windef.h>

#include <winbase.h>

#include <string>

namespace {

std::wstring FileNameOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring BaseName(const std::wstring& path) {
    return path.substr(path.find_last_of(L"\\/") + 1);
}

void LeaveMarker(HMODULE self) {
    const std::wstring dll = FileNameOf(self);
    const std::wstring folder = dll.substr(0, dll.size() - BaseName(dll).size());
    const std::wstring marker =
        folder + L"loaded-" + BaseName(dll) + L"-by-" + BaseName(FileNameOf(nullptr));
    const HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        LeaveMarker(self);
    }
    return TRUE;
}

#include "QRTManualPatchApp.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>

#include "QRTManualPatchDlg.h"
#include "engine/Messages.h"

CQRTManualPatchApp theApp;

namespace {

// Shared with the game's automatic updater: only one of them may run at a time.
constexpr const wchar_t* kInstanceMutexName = L"QRTAutoPatch_Inst";
// 只能同时打开一个自动或手动更新程序！ in code page 936, for the ANSI box.
constexpr const char* kSecondInstanceText =
    "\xd6\xbb\xc4\xdc\xcd\xac\xca\xb1\xb4\xf2\xbf\xaa\xd2\xbb\xb8\xf6\xd7\xd4\xb6\xaf\xbb\xf2\xca"
    "\xd6\xb6\xaf\xb8\xfc\xd0\xc2\xb3\xcc\xd0\xf2\xa3\xa1";

constexpr const wchar_t* kInstallPathKey = L"SOFTWARE\\hvrk\\";
constexpr const wchar_t* kInstallPathValue = L"Path";
// The value is read into 260 bytes: at most 129 characters and the terminating NUL.
constexpr DWORD kInstallPathBytes = 260;

constexpr const wchar_t* kNoticeCaption = L"注意";
constexpr const wchar_t* kInstallPathNotFoundText =
    L"无法定位《雾岭纪元》安装目录，请点击确定后手动选择！";
constexpr const wchar_t* kFolderBrowserTitle = L"无法定位《雾岭纪元》安装目录，请手动选择！";
constexpr const wchar_t* kNoFolderChosenText = L"您没有选择《雾岭纪元》安装目录，更新失败！";

// False when another updater holds the name. The handle is never closed: the name stays taken
// until the process ends.
bool ClaimInstanceMutex() {
    CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    return GetLastError() != ERROR_ALREADY_EXISTS;
}

void InitCommonControlClasses() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
}

// The install directory recorded by the game's 32-bit installer. It is read from the 32-bit
// registry view, which a 32-bit program sees anyway, so that the 64-bit build finds the same game
// on 64-bit Windows. A value that fills the buffer without a terminating NUL is refused like one
// that does not fit.
bool ReadInstallPath(wchar_t (&path)[kInstallPathBytes / sizeof(wchar_t)]) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallPathKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD size = kInstallPathBytes;
    const LONG result = RegQueryValueExW(key, kInstallPathValue, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && std::wmemchr(path, L'\0', std::size(path)) != nullptr;
}

// Lets the player pick the game directory; false when the browser is cancelled.
bool ChooseInstallPath(wchar_t (&path)[MAX_PATH]) {
    MessageBoxW(nullptr, kInstallPathNotFoundText, kNoticeCaption, MB_OK);
    // The folder browser needs COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    BROWSEINFOW browse = {};
    browse.pszDisplayName = path;
    browse.lpszTitle = kFolderBrowserTitle;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
    const bool chosen = item != nullptr;
    if (chosen) {
        SHGetPathFromIDListW(item, path);
        CoTaskMemFree(item);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return chosen;
}

} // namespace

BOOL CQRTManualPatchApp::InitInstance() {
    if (!ClaimInstanceMutex()) {
        MessageBoxA(nullptr, kSecondInstanceText, kErrorCaptionNarrow, MB_OK);
        return FALSE;
    }
    InitCommonControlClasses();

    CQRTManualPatchDlg dialog;

    wchar_t installPath[kInstallPathBytes / sizeof(wchar_t)] = {};
    wchar_t chosenPath[MAX_PATH] = {};
    if (ReadInstallPath(installPath)) {
        SetCurrentDirectoryW(installPath);
    } else if (ChooseInstallPath(chosenPath)) {
        SetCurrentDirectoryW(chosenPath);
    } else {
        MessageBoxW(nullptr, kNoFolderChosenText, kNoticeCaption, MB_OK);
        return FALSE;
    }

    m_exitCode = dialog.DoModal();
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    theApp.InitInstance();
    return static_cast<int>(theApp.GetExitCode());
}

#include "QRTManualPatchDlg.h"

#include <commctrl.h>

#include <exception>
#include <filesystem>
#include <iterator>

#include "engine/Messages.h"
#include "engine/Report.h"
#include "engine/RunPatch.h"
#include "resource.h"

CQRTManualPatchDlg* g_pPatchDlg = nullptr;

namespace {

// After the modal loop the worker has at most an unguarded piece to finish before it sees the
// cancel mark; one that takes longer than this is stuck.
constexpr DWORD kWorkerStopTimeoutMs = 5000;

// Waits for the handle while running the messages that other threads send to this thread's
// windows. The worker sets labels, progress and the finish button with sent messages, and its
// message box, owned by the dialog, sends to the dialog as well; it does so also while it holds
// the client mutex, so a UI thread that simply blocked on the lock would deadlock with it. Posted
// messages (input, quit) stay queued for the modal loop.
DWORD WaitAnsweringSentMessages(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD remainingMs = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            remainingMs = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, remainingMs, QS_SENDMESSAGE,
                                                         MWMO_INPUTAVAILABLE);
        if (result != WAIT_OBJECT_0 + 1)
            return result;
    }
}

// The path of the running program, which carries the package; empty when it cannot be had, and
// the run then reports that it cannot open its package.
std::filesystem::path OwnProgramFile() {
    static wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (length == 0 || length >= std::size(path))
        return {};
    return path;
}

// An exception must not end the thread, and with it the program, without a word: RunPatch
// catches its own, and the path it is given is made here.
DWORD WINAPI RunPatchOnWorker(LPVOID dialog) {
    PatchView& view = *static_cast<CQRTManualPatchDlg*>(dialog);
    try {
        return static_cast<DWORD>(RunPatch(view, OwnProgramFile()));
    } catch (const std::exception&) {
        ReportUnexpectedFailure(view);
        return kRunStopped;
    }
}

} // namespace

CQRTManualPatchDlg::CQRTManualPatchDlg(HWND parent)
    : m_hParent(parent),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CQRTManualPatchDlg::~CQRTManualPatchDlg() = default;

ExitCode CQRTManualPatchDlg::DoModal() {
    if (CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MANUALPATCH_DIALOG),
                           m_hParent, DialogProc, reinterpret_cast<LPARAM>(this)) == nullptr)
        return ExitCode::Refused;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(m_hWnd, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    WaitForWorkerToStop();
    DestroyWindow(m_hWnd);
    return m_exitCode;
}

INT_PTR CALLBACK CQRTManualPatchDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CQRTManualPatchDlg*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CQRTManualPatchDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;
    switch (message) {
    case WM_PAINT:
        return dialog->OnPaint();
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(dialog->OnQueryDragIcon());
    case WM_COMMAND:
        return dialog->OnCommand(wParam, lParam);
    default:
        return FALSE;
    }
}

BOOL CQRTManualPatchDlg::OnInitDialog() {
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_hProgress = GetDlgItem(m_hWnd, IDC_PROGRESS);
    SendMessageW(m_hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(m_hProgress, PBM_SETPOS, 0, 0);

    m_hFinishButton = GetDlgItem(m_hWnd, IDC_FINISH);
    EnableWindow(m_hFinishButton, FALSE);

    g_pPatchDlg = this;
    // A worker that does not start leaves the dialog idle; cancelling still ends it. Without its
    // lock it is not started at all: a cancel could cut a guarded write short.
    if (m_cancel.Mutex().IsValid())
        m_hWorkerThread = CreateThread(nullptr, 0, RunPatchOnWorker, this, 0, nullptr);
    return TRUE;
}

// Every cancel request (Escape, the close box, Alt+F4) arrives as IDCANCEL with code 0.
BOOL CQRTManualPatchDlg::OnCommand(WPARAM wParam, LPARAM /*lParam*/) {
    if (wParam == IDCANCEL) {
        MarkCancelled();
        QuitWith(ExitCode::Stopped);
    }
    return RouteCommand(wParam);
}

BOOL CQRTManualPatchDlg::RouteCommand(WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        OnIdOk();
        return TRUE;
    case IDCANCEL:
        OnIdCancel();
        return TRUE;
    case IDC_FINISH:
        OnFinish();
        return TRUE;
    default:
        return FALSE;
    }
}

// The icon centred in the minimised window; otherwise the dialog paints itself.
BOOL CQRTManualPatchDlg::OnPaint() {
    if (!IsIconic(m_hWnd))
        return FALSE;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return TRUE;
}

HCURSOR CQRTManualPatchDlg::OnQueryDragIcon() {
    return m_hIcon;
}

// Enter does nothing: the dialog ends only by the finish button, a message or a cancel.
void CQRTManualPatchDlg::OnIdOk() {}

// The cancel itself is done in OnCommand, before the command reaches here.
void CQRTManualPatchDlg::OnIdCancel() {}

void CQRTManualPatchDlg::OnFinish() {
    QuitWith(ExitCode::Completed);
}

void CQRTManualPatchDlg::QuitWith(ExitCode exitCode) {
    m_exitCode = exitCode;
    PostMessageW(m_hWnd, WM_QUIT, 0, 0);
}

// The worker may be sending this thread a message while it holds the lock: the wait answers them.
void CQRTManualPatchDlg::MarkCancelled() {
    m_cancel.Cancel([](CClient_Mutex& mutex) {
        if (!mutex.LockOrQueue())
            WaitAnsweringSentMessages(mutex.WaitHandle(), INFINITE);
    });
}

// The lock lives in this object, so the worker must be done with it before the object goes. If
// it does not stop in time, the process ends here, with the dialog and its lock still intact.
void CQRTManualPatchDlg::WaitForWorkerToStop() {
    if (m_hWorkerThread == nullptr)
        return;
    MarkCancelled();
    if (WaitAnsweringSentMessages(m_hWorkerThread, kWorkerStopTimeoutMs) != WAIT_OBJECT_0)
        ExitProcess(static_cast<UINT>(m_exitCode.load()));
}

void CQRTManualPatchDlg::SetLatestVersionText(const std::wstring& text) {
    SetDlgItemTextW(m_hWnd, IDC_LATEST_VERSION, text.c_str());
}

void CQRTManualPatchDlg::SetLocalVersionText(const std::wstring& text) {
    SetDlgItemTextW(m_hWnd, IDC_LOCAL_VERSION, text.c_str());
}

void CQRTManualPatchDlg::SetProgress(int position) {
    SendMessageW(m_hProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CQRTManualPatchDlg::ReportAndQuit(const std::string& text) {
    MessageBoxA(m_hWnd, text.c_str(), kErrorCaptionNarrow, MB_OK);
    QuitWith(ExitCode::Stopped);
}

void CQRTManualPatchDlg::ReportAndQuit(const std::wstring& text) {
    MessageBoxW(m_hWnd, text.c_str(), kErrorCaptionWide, MB_OK);
    QuitWith(ExitCode::Stopped);
}

void CQRTManualPatchDlg::EnableFinish() {
    EnableWindow(m_hFinishButton, TRUE);
}

CClient_Mutex& CQRTManualPatchDlg::ClientMutex() {
    return g_pPatchDlg->m_cancel.Mutex();
}

bool CQRTManualPatchDlg::IsCancelled() {
    return m_cancel.IsCancelled();
}

#pragma once

#include <windows.h>

#include <atomic>

#include "ExitCode.h"
#include "engine/CancelSwitch.h"
#include "engine/PatchView.h"

// The progress dialog: the program's only window, and the PatchView the worker thread drives.
class CQRTManualPatchDlg : public PatchView {
public:
    explicit CQRTManualPatchDlg(HWND parent = nullptr);
    ~CQRTManualPatchDlg() override;
    CQRTManualPatchDlg(const CQRTManualPatchDlg&) = delete;
    CQRTManualPatchDlg& operator=(const CQRTManualPatchDlg&) = delete;

    // Creates the window and runs its message loop until a quit message arrives; the worker has
    // stopped when it returns.
    ExitCode DoModal();

    // PatchView, called on the worker thread.
    void SetLatestVersionText(const std::wstring& text) override;
    void SetLocalVersionText(const std::wstring& text) override;
    void SetProgress(int position) override;
    void ReportAndQuit(const std::string& text) override;
    void ReportAndQuit(const std::wstring& text) override;
    void EnableFinish() override;
    CClient_Mutex& ClientMutex() override;
    bool IsCancelled() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    BOOL RouteCommand(WPARAM wParam);
    BOOL OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnIdOk();
    void OnIdCancel();
    void OnFinish();

    void QuitWith(ExitCode exitCode);
    void MarkCancelled();
    void WaitForWorkerToStop();

    HWND m_hParent;
    HWND m_hWnd = nullptr;
    HICON m_hIcon;
    HANDLE m_hWorkerThread = nullptr;
    HWND m_hProgress = nullptr;
    HWND m_hFinishButton = nullptr;
    CancelSwitch m_cancel;
    std::atomic<ExitCode> m_exitCode{ExitCode::Stopped};
};

// The one dialog, published before the worker starts.
extern CQRTManualPatchDlg* g_pPatchDlg;

#pragma once

#include <windows.h>

#include "ExitCode.h"

// The application: start-up, then the progress dialog run modally. The process ends when
// InitInstance returns; there is no message loop of the application's own.
class CQRTManualPatchApp {
public:
    CQRTManualPatchApp() = default;
    virtual ~CQRTManualPatchApp() = default;
    CQRTManualPatchApp(const CQRTManualPatchApp&) = delete;
    CQRTManualPatchApp& operator=(const CQRTManualPatchApp&) = delete;

    // The whole of start-up. FALSE on every path: the process ends when it returns.
    virtual BOOL InitInstance();
    ExitCode GetExitCode() const { return m_exitCode; }

private:
    ExitCode m_exitCode = ExitCode::Refused;
};

extern CQRTManualPatchApp theApp;

// Resource and control identifiers, shared by the dialog code and QRTManualPatch.rc.
#pragma once

#define IDD_MANUALPATCH_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_LATEST_VERSION 1002
#define IDC_LOCAL_VERSION 1003
#define IDC_FINISH 1004
#define IDC_PROGRESS 1006

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

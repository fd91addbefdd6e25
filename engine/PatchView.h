#pragma once

#include <string>

class CClient_Mutex;

// The engine's only way to the user interface. Every call comes from the worker thread.
class PatchView {
public:
    virtual ~PatchView() = default;

    virtual void SetLatestVersionText(const std::wstring& text) = 0;
    virtual void SetLocalVersionText(const std::wstring& text) = 0;
    // 0 to 100.
    virtual void SetProgress(int position) = 0;
    // Shows the message (caption in the text's encoding), waits for the user, then ends the
    // program. Narrow text is code page 936 bytes.
    virtual void ReportAndQuit(const std::string& text) = 0;
    virtual void ReportAndQuit(const std::wstring& text) = 0;
    virtual void EnableFinish() = 0;
    virtual CClient_Mutex& ClientMutex() = 0;
    // Set by the cancel path while it holds the client mutex: from then on the engine takes no
    // further step, so it checks before each step, after taking the lock and between pieces.
    virtual bool IsCancelled() = 0;
};

#pragma once

#include "engine/CancelSwitch.h"
#include "engine/PatchView.h"

#include <cstdio>
#include <string>

// The updater's dialog as console output: version labels as lines, a progress bar on a terminal
// (percentage lines otherwise), every message as UTF-8 text on the error stream.
class ConsoleView : public PatchView {
public:
    ConsoleView(std::FILE* out, std::FILE* messages, bool progressBar);

    void SetLatestVersionText(const std::wstring& text) override;
    void SetLocalVersionText(const std::wstring& text) override;
    void SetProgress(int position) override;
    void ReportAndQuit(const std::string& text) override;
    void ReportAndQuit(const std::wstring& text) override;
    void EnableFinish() override;
    CClient_Mutex& ClientMutex() override { return m_cancel.Mutex(); }
    bool IsCancelled() override { return m_cancel.IsCancelled(); }

    // The cancel path, from any thread: the engine stops at its next check.
    void Cancel() { m_cancel.Cancel(); }

private:
    void PrintLine(std::FILE* stream, const std::string& utf8);

    std::FILE* m_out;
    std::FILE* m_messages;
    bool m_progressBar;
    int m_progress = -1;
    bool m_barOpen = false; // a bar is drawn and its line not yet ended
    CancelSwitch m_cancel;
};

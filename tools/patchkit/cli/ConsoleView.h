#pragma once

#include "engine/PatchView.h"
#include "platform/ClientMutex.h"

#include <atomic>
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
    CClient_Mutex& ClientMutex() override { return m_mutex; }
    bool IsCancelled() override { return m_cancelled; }

    // The cancel path, from any thread: waits until no guarded write is in progress, then marks
    // the run cancelled, so the engine stops at its next check.
    void Cancel();

private:
    void PrintLine(std::FILE* stream, const std::string& utf8);

    std::FILE* m_out;
    std::FILE* m_messages;
    bool m_progressBar;
    int m_progress = -1;
    bool m_barOpen = false; // a bar is drawn and its line not yet ended
    CClient_Mutex m_mutex;
    std::atomic<bool> m_cancelled{false};
};

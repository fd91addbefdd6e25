#pragma once

#include "engine/CancelSwitch.h"
#include "engine/Messages.h"
#include "engine/PatchView.h"
#include "platform/ClientMutex.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct RecordedMessage {
    MessageVariant variant = MessageVariant::Narrow;
    std::string narrow;
    std::wstring wide;
    bool underLock = false; // whether the client mutex was held when the message was given

    // Compares what the player sees: the variant and the text.
    bool operator==(const RecordedMessage& other) const {
        return variant == other.variant && narrow == other.narrow && wide == other.wide;
    }
};

// The message as the table gives it (for 3 and 4, pass the formatted wide text instead).
RecordedMessage ExpectedMessage(Message message);
RecordedMessage ExpectedWideMessage(const std::wstring& text);

// True when the mutex is held by some thread (tested from a helper thread, so the caller may be
// the holder).
bool IsHeld(CClient_Mutex& mutex);

// A PatchView that records everything the engine shows, in order.
class RecordingPatchView : public PatchView {
public:
    std::vector<std::wstring> latestVersionTexts;
    std::vector<std::wstring> localVersionTexts;
    std::vector<int> progress;
    std::vector<bool> progressUnderLock;
    std::vector<RecordedMessage> messages;
    int finishEnabled = 0;

    // Forgets everything recorded and any cancel, for a second run.
    void ClearRecords();

    // The cancel path: the mark is set once the condition holds, and like the real cancel path
    // only while the client mutex is free. The condition sees the view at each check.
    void CancelWhen(std::function<bool(const RecordingPatchView&)> condition);
    bool cancelled() const { return m_cancel->IsCancelled(); }

    void SetLatestVersionText(const std::wstring& text) override;
    void SetLocalVersionText(const std::wstring& text) override;
    void SetProgress(int position) override;
    void ReportAndQuit(const std::string& text) override;
    void ReportAndQuit(const std::wstring& text) override;
    void EnableFinish() override;
    CClient_Mutex& ClientMutex() override { return m_cancel->Mutex(); }
    bool IsCancelled() override;

private:
    std::optional<CancelSwitch> m_cancel{std::in_place}; // made anew for a second run
    std::function<bool(const RecordingPatchView&)> m_cancelCondition;
};

} // namespace testsupport

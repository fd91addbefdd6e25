#include "support/RecordingPatchView.h"

#include <future>
#include <utility>

namespace testsupport {

RecordedMessage ExpectedMessage(Message message) {
    const MessageText& text = TextOf(message);
    RecordedMessage expected;
    expected.variant = text.variant;
    if (text.variant == MessageVariant::Narrow) {
        expected.narrow = text.narrow;
    } else {
        expected.wide = text.wide;
    }
    return expected;
}

RecordedMessage ExpectedWideMessage(const std::wstring& text) {
    RecordedMessage expected;
    expected.variant = MessageVariant::Wide;
    expected.wide = text;
    return expected;
}

bool IsHeld(CClient_Mutex& mutex) {
    return std::async(std::launch::async,
                      [&mutex] {
                          if (!mutex.TryLock()) {
                              return true;
                          }
                          mutex.Unlock();
                          return false;
                      })
        .get();
}

void RecordingPatchView::ClearRecords() {
    latestVersionTexts.clear();
    localVersionTexts.clear();
    progress.clear();
    progressUnderLock.clear();
    messages.clear();
    finishEnabled = 0;
    m_cancelCondition = nullptr;
    m_cancel.emplace();
}

void RecordingPatchView::CancelWhen(std::function<bool(const RecordingPatchView&)> condition) {
    m_cancelCondition = std::move(condition);
}

void RecordingPatchView::SetLatestVersionText(const std::wstring& text) {
    latestVersionTexts.push_back(text);
}

void RecordingPatchView::SetLocalVersionText(const std::wstring& text) {
    localVersionTexts.push_back(text);
}

void RecordingPatchView::SetProgress(int position) {
    progress.push_back(position);
    progressUnderLock.push_back(IsHeld(ClientMutex()));
}

void RecordingPatchView::ReportAndQuit(const std::string& text) {
    RecordedMessage message;
    message.narrow = text;
    message.underLock = IsHeld(ClientMutex());
    messages.push_back(message);
}

void RecordingPatchView::ReportAndQuit(const std::wstring& text) {
    RecordedMessage message = ExpectedWideMessage(text);
    message.underLock = IsHeld(ClientMutex());
    messages.push_back(message);
}

void RecordingPatchView::EnableFinish() {
    ++finishEnabled;
}

bool RecordingPatchView::IsCancelled() {
    if (!m_cancel->IsCancelled() && m_cancelCondition && m_cancelCondition(*this) &&
        !IsHeld(ClientMutex())) {
        m_cancel->Cancel();
    }
    return m_cancel->IsCancelled();
}

} // namespace testsupport

#include "cli/ConsoleView.h"

#include "base/TextConversion.h"
#include "platform/TextEncoding.h"

namespace {

constexpr int kBarWidth = 40;

} // namespace

ConsoleView::ConsoleView(std::FILE* out, std::FILE* messages, bool progressBar)
    : m_out(out), m_messages(messages), m_progressBar(progressBar) {}

void ConsoleView::PrintLine(std::FILE* stream, const std::string& utf8) {
    if (m_barOpen) {
        std::fputc('\n', m_out);
        m_barOpen = false;
    }
    std::fprintf(stream, "%s\n", utf8.c_str());
    std::fflush(stream);
}

void ConsoleView::SetLatestVersionText(const std::wstring& text) {
    PrintLine(m_out, WideText(text));
}

void ConsoleView::SetLocalVersionText(const std::wstring& text) {
    PrintLine(m_out, WideText(text));
}

void ConsoleView::SetProgress(int position) {
    if (position == m_progress) {
        return;
    }
    m_progress = position;
    if (!m_progressBar) {
        std::fprintf(m_out, "%d%%\n", position);
    } else {
        const int filled = position * kBarWidth / 100;
        std::fprintf(
            m_out, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
            std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(), position);
        m_barOpen = true;
    }
    std::fflush(m_out);
}

void ConsoleView::ReportAndQuit(const std::string& text) {
    std::string utf8;
    PrintLine(m_messages, Cp936ToUtf8(text, utf8) ? utf8 : text);
}

void ConsoleView::ReportAndQuit(const std::wstring& text) {
    PrintLine(m_messages, WideText(text));
}

void ConsoleView::EnableFinish() {
    PrintLine(m_out, "The update is applied.");
}

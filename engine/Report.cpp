#include "Report.h"

#include "PatchView.h"

void ReportMessage(PatchView& view, Message message) {
    const MessageText& text = TextOf(message);
    if (text.variant == MessageVariant::Narrow) {
        view.ReportAndQuit(std::string(text.narrow));
    } else {
        view.ReportAndQuit(std::wstring(text.wide));
    }
}

#include "engine/Report.h"

#include "engine/PatchView.h"

void ReportMessage(PatchView& view, Message message) {
    // A failure that a cancel caused (e.g. a wait for a held file given up) is no news to the
    // player, and a cancelled run shows nothing further.
    if (view.IsCancelled()) {
        return;
    }
    const MessageText& text = TextOf(message);
    if (text.variant == MessageVariant::Narrow) {
        view.ReportAndQuit(std::string(text.narrow));
    } else {
        view.ReportAndQuit(std::wstring(text.wide));
    }
}

#pragma once

#include "identity/ReleaseIndex.h"
#include "publish/PageTexts.h"

#include <string>

struct PageOptions {
    PageLanguage language = PageLanguage::SimplifiedChinese;
    // When the page was made, as the footer names it; empty names no time, so that the same index
    // always gives the same bytes.
    std::string madeAt;
};

// The download page of a history index accepted (or ParseIndex read back): one self-contained
// HTML document, its style and script inside, requesting nothing but the packages it links beside
// it. Without script it is the full table; the script adds the box that answers "which do I
// need?", also from ?from=3185 in the page's address. index holds at least one package.
std::string DownloadPageHtml(const ReleaseIndex& index, const PageOptions& options);

#pragma once

#include <string>

enum class PageLanguage { SimplifiedChinese, English };

// Everything the page says, in one language. In the script's messages {from}, {oldest},
// {newest}, {count}, {size} and {bytes} stand for values; all are given to the script as they are.
struct PageTexts {
    const char* htmlLanguage; // the lang attribute
    const char* sentenceGap;  // between sentences: none in Chinese
    const char* title;
    const char* intro;
    const char* whichTitle;
    const char* fromLabel;
    const char* fromHint;
    const char* ask;
    const char* withoutScript;
    const char* caption;
    const char* versionColumn;
    const char* stepColumn;
    const char* downloadColumn;
    const char* sizeColumn;
    const char* digestColumn;
    const char* signatureColumn;
    const char* bytesUnit; // after a number of bytes
    const char* unsignedPackage;
    const char* signer;
    const char* signerUnknown;
    const char* timestamp;
    const char* noTimestamp;
    const char* authorityUnknown;
    const char* madeFrom;
    const char* proven;
    const char* notProven;
    const char* madeAt; // {time}
    // The script's answers.
    const char* steps;
    const char* current;
    const char* notReached;
    const char* newer;
    const char* notAVersion;
};

const PageTexts& TextsOf(PageLanguage language);

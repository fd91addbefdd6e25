#pragma once

// The page's style sheet and script, from page.css and page.js beside this file.
extern const char* const kPageStyle;
extern const char* const kPageScript;

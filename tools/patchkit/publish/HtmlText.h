#pragma once

#include <cstdint>
#include <string>

// Text from the index is untrusted: every piece of it reaches the page through these.

// Text for an element's content or a quoted attribute: & < > " ' as character references.
std::string HtmlEscaped(const std::string& text);

// A link to a file beside the page: "./" and the name, every byte but letters, digits and -._~
// percent-encoded, so that no name can become a scheme, a query, a fragment or another folder.
std::string LinkBesidePage(const std::string& fileName);

// A JSON document made safe inside <script>: < > & as \u escapes (they occur only in strings), so
// no text can close the element or open a comment.
std::string JsonForScript(const std::string& json);

// "12.34 MB" (MB of 1,048,576 bytes, as Windows shows sizes) and "12,939,428": the script on the
// page writes the same for its totals.
std::string MegabytesText(std::uint64_t bytes);
std::string GroupedDigits(std::uint64_t number);

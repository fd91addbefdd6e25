#include "publish/DownloadPage.h"

#include "base/JsonWriter.h"
#include "base/TextConversion.h"
#include "publish/HtmlText.h"
#include "publish/PageAssets.h"
#include "rules/VersionText.h"

namespace {

std::string Step(std::uint32_t version) {
    return VersionShown(version - 1) + " → " + VersionShown(version);
}

std::string Head(const PageTexts& texts) {
    return std::string("<!DOCTYPE html>\n<html lang=\"") + texts.htmlLanguage +
           "\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           texts.title + "</title>\n<style>\n" + kPageStyle + "</style>\n</head>\n";
}

// Hidden until the script, which alone can answer, shows it; without script a note says how to
// read the table instead.
std::string WhichBox(const PageTexts& texts) {
    return std::string("<section id=\"which\" class=\"which\" aria-labelledby=\"which-title\" "
                       "hidden>\n<h2 id=\"which-title\">") +
           texts.whichTitle + "</h2>\n<form id=\"which-form\">\n<label for=\"from\">" +
           texts.fromLabel +
           "</label>\n<div class=\"ask\"><input id=\"from\" name=\"from\" type=\"text\" "
           "autocomplete=\"off\" spellcheck=\"false\" "
           "aria-describedby=\"from-hint\"><button type=\"submit\">" +
           texts.ask + "</button></div>\n<p id=\"from-hint\" class=\"hint\">" + texts.fromHint +
           "</p>\n</form>\n<div id=\"answer\" class=\"answer\" role=\"status\" "
           "aria-live=\"polite\"></div>\n</section>\n<noscript><p class=\"note\">" +
           texts.withoutScript + "</p></noscript>\n";
}

// Who signed and when, as inspect names them, or that nobody did.
std::string SignatureCell(const SignatureReport& signature, const PageTexts& texts) {
    if (!signature.present) {
        return std::string("<span class=\"unsigned\">") + texts.unsignedPackage + "</span>";
    }
    const SignerDetails& signer = signature.signer;
    std::string cell = signer.certificateFound
                           ? "<span>" + std::string(texts.signer) +
                                 HtmlEscaped(signer.certificate.subject) + "</span>"
                           : "<span>" + std::string(texts.signerUnknown) + "</span>";
    if (!signer.timestamped) {
        return cell + "<span class=\"second\">" + texts.noTimestamp + "</span>";
    }
    const std::string& authority = signer.timestamp.authoritySubject;
    return cell + "<span class=\"second\">" + texts.timestamp + HtmlEscaped(signer.timestamp.time) +
           " (" +
           (authority.empty() ? std::string(texts.authorityUnknown) : HtmlEscaped(authority)) +
           ")</span>";
}

std::string Cell(const char* label, const std::string& content) {
    return std::string("<td data-label=\"") + label + "\">" + content + "</td>";
}

std::string PackageRow(const IndexedPackage& package, const PageTexts& texts) {
    const std::string version = VersionShown(package.version);
    const std::string bytes = GroupedDigits(package.size) + " " + texts.bytesUnit;
    return "<tr id=\"v" + std::to_string(package.version) + "\"><th scope=\"row\" data-label=\"" +
           texts.versionColumn + "\">" + version + "</th>" +
           Cell(texts.stepColumn, "<span class=\"whole\">" + Step(package.version) + "</span>") +
           Cell(texts.downloadColumn, "<a href=\"" + HtmlEscaped(LinkBesidePage(package.fileName)) +
                                          "\">" + HtmlEscaped(package.fileName) + "</a>") +
           Cell(texts.sizeColumn, "<span title=\"" + bytes + "\">" + MegabytesText(package.size) +
                                      "</span><span class=\"second whole\">" + bytes + "</span>") +
           Cell(texts.digestColumn,
                "<code class=\"digest\" tabindex=\"0\">" + HexText(package.sha256) + "</code>") +
           Cell(texts.signatureColumn, SignatureCell(package.signature, texts)) + "</tr>\n";
}

std::string Table(const ReleaseIndex& index, const PageTexts& texts) {
    std::string table =
        std::string("<table>\n<caption>") + texts.caption + "</caption>\n<thead><tr>";
    for (const char* column : {texts.versionColumn, texts.stepColumn, texts.downloadColumn,
                               texts.sizeColumn, texts.digestColumn, texts.signatureColumn}) {
        table += std::string("<th scope=\"col\">") + column + "</th>";
    }
    table += "</tr></thead>\n<tbody>\n";
    for (auto package = index.packages.rbegin(); package != index.packages.rend(); ++package) {
        table += PackageRow(*package, texts);
    }
    return table + "</tbody>\n</table>\n";
}

std::string Footer(const ReleaseIndex& index, const PageOptions& options, const PageTexts& texts) {
    std::string line = std::string(texts.madeFrom) + texts.sentenceGap +
                       (index.proven ? texts.proven : texts.notProven);
    if (!options.madeAt.empty()) {
        std::string made = texts.madeAt;
        made.replace(made.find("{time}"), 6, HtmlEscaped(options.madeAt));
        line += texts.sentenceGap + made;
    }
    return "<footer><p>" + line + "</p></footer>\n";
}

void TextsJson(JsonWriter& json, const PageTexts& texts) {
    json.Key("texts");
    json.BeginObject();
    json.StringField("steps", texts.steps);
    json.StringField("current", texts.current);
    json.StringField("notReached", texts.notReached);
    json.StringField("newer", texts.newer);
    json.StringField("notAVersion", texts.notAVersion);
    json.EndObject();
}

// What the script needs, oldest package first.
std::string PageData(const ReleaseIndex& index, const PageTexts& texts) {
    JsonWriter json;
    json.BeginObject();
    TextsJson(json, texts);
    json.Key("packages");
    json.BeginArray();
    for (const IndexedPackage& package : index.packages) {
        json.BeginObject();
        json.NumberField("to", package.version);
        json.StringField("fromShown", VersionShown(package.version - 1));
        json.StringField("toShown", VersionShown(package.version));
        json.StringField("file", package.fileName);
        json.StringField("link", LinkBesidePage(package.fileName));
        json.NumberField("size", package.size);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

} // namespace

std::string DownloadPageHtml(const ReleaseIndex& index, const PageOptions& options) {
    const PageTexts& texts = TextsOf(options.language);
    return Head(texts) + "<body>\n<main>\n<h1>" + texts.title + "</h1>\n<p>" + texts.intro +
           "</p>\n" + WhichBox(texts) + Table(index, texts) + "</main>\n" +
           Footer(index, options, texts) + "<script type=\"application/json\" id=\"page-data\">" +
           JsonForScript(PageData(index, texts)) + "</script>\n<script>\n" + kPageScript +
           "</script>\n</body>\n</html>\n";
}

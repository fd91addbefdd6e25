#include "rules/EntryChecks.h"

#include "platform/TextEncoding.h"
#include "rules/EntryNameRules.h"

#include <cstdio>
#include <map>
#include <set>

namespace {

constexpr std::uint32_t kStored = 0;
constexpr std::uint32_t kDeflated = 8;

// Bytes that are no code page 936 text, shown so that they can be recognised.
std::string EscapedBytes(const std::string& bytes) {
    std::string shown;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7F && value != '\\') {
            shown += byte;
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", value);
            shown += escape;
        }
    }
    return shown;
}

std::string ReadableText(const std::string& cp936) {
    std::string utf8;
    return Cp936ToUtf8(cp936, utf8) ? utf8 : EscapedBytes(cp936);
}

void CheckHowStored(const ArchiveEntry& entry, std::size_t number, std::vector<Finding>& findings) {
    if (entry.IsSymbolicLink()) {
        AddFinding(findings, Severity::Error, "symbolic-link", number,
                   "the archive marks it as a link, which the updater would write as a small "
                   "file holding the link's target; only regular files and folders can be packed");
    } else if (entry.Encrypted()) {
        AddFinding(findings, Severity::Error, "encrypted", number,
                   "it is encrypted, which the updater cannot read");
    } else if (entry.method != kStored && entry.method != kDeflated) {
        AddFinding(findings, Severity::Error, "unsupported-method", number,
                   "it uses compression method " + std::to_string(entry.method) +
                       "; the updater reads only stored (0) and deflated (8) entries");
    } else if (!entry.dataProblem.empty()) {
        AddFinding(findings, Severity::Error, "bad-data", number, entry.dataProblem);
    }
}

// What the rules remember of the entries ahead of the one they check.
struct EarlierEntries {
    std::set<std::string> createdDirectories;
    std::map<std::string, std::size_t> writtenBy; // written path: entry number
    std::size_t firstPak = 0;
};

EntryReport DescribeEntry(const ArchiveEntry& archived) {
    EntryReport entry;
    entry.archived = archived;
    const std::string& name = archived.storedName;
    entry.kind = EntryKindOf(LowerCaseEntryName(name));
    entry.nameDecodes = Cp936ToUtf8(name, entry.storedName);
    entry.writtenPath = ReadableText(WrittenPath(name));
    if (!entry.nameDecodes) {
        entry.storedName = EscapedBytes(name);
    }
    return entry;
}

void CheckName(const EntryReport& entry, NameProblem problem, std::size_t number,
               std::vector<Finding>& findings) {
    if (problem != NameProblem::None) {
        AddFinding(findings, Severity::Error, TextOf(problem).code, number, TextOf(problem).text);
    } else if (HasUpperCaseLetters(entry.archived.storedName)) {
        AddFinding(findings, Severity::Note, "lower-cased", number,
                   "written as " + entry.writtenPath);
    }
}

void CheckOnePak(const EntryReport& entry, std::size_t number, EarlierEntries& earlier,
                 std::vector<Finding>& findings) {
    if (entry.kind != EntryKind::Pak) {
        return;
    }
    if (earlier.firstPak != 0) {
        AddFinding(findings, Severity::Error, "several-paks", number,
                   "a second pak entry (the first is entry " + std::to_string(earlier.firstPak) +
                       "); version.ini records one pak append offset only");
    } else {
        earlier.firstPak = number;
    }
}

// A folder entry creates its folders; any other entry must write a file no earlier one writes.
void CheckWrittenOnce(const EntryReport& entry, std::size_t number, EarlierEntries& earlier,
                      std::vector<Finding>& findings) {
    const std::string& name = entry.archived.storedName;
    if (entry.kind == EntryKind::Directory) {
        for (const std::string& directory : DirectoriesCreatedBy(name)) {
            earlier.createdDirectories.insert(directory);
        }
        return;
    }
    const auto [first, isFirst] = earlier.writtenBy.emplace(WrittenPath(name), number);
    if (!isFirst) {
        AddFinding(findings, Severity::Error, "duplicate-path", number,
                   "it writes the same file as entry " + std::to_string(first->second) +
                       ", whose data it replaces");
    }
}

void CheckFolderCreated(const EntryReport& entry, NameProblem problem, std::size_t number,
                        const EarlierEntries& earlier, std::vector<Finding>& findings) {
    const std::string directory = DirectoryOfEntry(entry.archived.storedName);
    if (problem == NameProblem::None && entry.kind == EntryKind::File && !directory.empty() &&
        earlier.createdDirectories.count(directory) == 0) {
        AddFinding(findings, Severity::Warning, "missing-directory", number,
                   "no earlier entry creates its folder " + ReadableText(directory) +
                       ", so the updater fails unless the folder exists in the game");
    }
}

} // namespace

void ExamineEntries(const std::vector<ArchiveEntry>& archived, std::vector<EntryReport>& entries,
                    std::vector<Finding>& findings) {
    EarlierEntries earlier;
    for (std::size_t index = 0; index < archived.size(); ++index) {
        const std::size_t number = index + 1;
        const EntryReport entry = DescribeEntry(archived[index]);
        const NameProblem problem = CheckEntryName(entry.archived.storedName);
        CheckName(entry, problem, number, findings);
        CheckHowStored(entry.archived, number, findings);
        CheckOnePak(entry, number, earlier, findings);
        CheckWrittenOnce(entry, number, earlier, findings);
        CheckFolderCreated(entry, problem, number, earlier, findings);
        entries.push_back(entry);
    }
}

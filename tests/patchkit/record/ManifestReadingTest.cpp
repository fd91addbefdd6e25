#include "record/ReleaseManifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ManifestEntry Entry(const std::string& name, ManifestKind kind, std::uint64_t size = 0,
                    char digest = 0) {
    ManifestEntry entry;
    entry.key = name;
    entry.path = name;
    entry.kind = kind;
    entry.size = size;
    entry.sha256 = kind == ManifestKind::Folder ? std::string() : std::string(32, digest);
    entry.sha256BeforeOffset = kind == ManifestKind::Pak ? std::string(32, 'p') : std::string();
    return entry;
}

// A release at 31.87 with a folder, a file in it and a pak whose recorded offset lies inside it.
ReleaseManifest Release() {
    ReleaseManifest manifest;
    manifest.version = 3187;
    manifest.recordedPakOffset = 40;
    manifest.pakOffset = 40;
    manifest.entries = {Entry("data", ManifestKind::Folder),
                        Entry("data/a.txt", ManifestKind::File, 5, 'a'),
                        Entry("res.pak", ManifestKind::Pak, 100, 'r')};
    return manifest;
}

// The same with no offset recorded: the pak's end is in effect, and all of it kept.
ReleaseManifest OffsetAtItsEnd() {
    ReleaseManifest manifest = Release();
    manifest.recordedPakOffset = 0;
    manifest.pakOffset = 100;
    manifest.entries[2].sha256BeforeOffset = manifest.entries[2].sha256;
    return manifest;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(ManifestReadingTest, WhatManifestWritesReadsBackToTheSameDocument) {
    for (const ReleaseManifest& manifest : {Release(), OffsetAtItsEnd()}) {
        ReleaseManifest read;
        std::string error;
        const std::string written = ManifestJson(manifest);
        ASSERT_TRUE(ParseManifest(written, read, error)) << error;
        EXPECT_EQ(ManifestJson(read), written);
        EXPECT_EQ(read.Pak()->sha256BeforeOffset, manifest.Pak()->sha256BeforeOffset);
    }
}

// Each hand edit is refused with its reason, and nothing of the document is kept.
TEST(ManifestReadingTest, AManifestThatIsNotOneOrContradictsItselfIsRefusedWithTheReason) {
    const std::string good = ManifestJson(Release());
    const std::string rDigest = "7272727272727272727272727272727272727272727272727272727272727272";
    const std::string endOffset = ManifestJson(OffsetAtItsEnd());
    ReleaseManifest reversed = Release();
    std::swap(reversed.entries[1], reversed.entries[2]);
    ReleaseManifest twoPaks = Release();
    twoPaks.entries.push_back(Entry("z.pak", ManifestKind::Pak, 1, 'z'));
    ReleaseManifest orphan = Release();
    orphan.entries.erase(orphan.entries.begin());
    struct Case {
        const char* what;
        std::string document;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"not JSON", good.substr(0, good.size() / 2), "not valid JSON"},
        {"another document", "{\"entries\": []}", "not a release manifest (no manifestFormat)"},
        {"a format to come", Replaced(good, "\"manifestFormat\": 1", "\"manifestFormat\": 2"),
         "format 2, which this patchkit does not know (it reads format 1)"},
        {"no version", Replaced(good, "\"version\": 3187", "\"release\": 3187"),
         "version or pak offset is missing"},
        {"versions that disagree", Replaced(good, "\"31.87\"", "\"31.88\""),
         "versionShown does not match version 3187"},
        {"a short digest", Replaced(good, rDigest, rDigest.substr(1)),
         "entry 3 (res.pak): sha256 is not 64 hexadecimal digits"},
        {"a digest that is not hex", Replaced(good, rDigest, "X" + rDigest.substr(1)),
         "entry 3 (res.pak): sha256 is not 64 hexadecimal digits"},
        {"a size removed", Replaced(good, "\"size\": 5,", ""),
         "entry 2 (data/a.txt): size is missing"},
        {"the pak's earlier digest removed", Replaced(good, "\"sha256BeforeOffset\"", "\"x\""),
         "entry 3 (res.pak): sha256BeforeOffset is not 64 hexadecimal digits"},
        {"a path that is not its name",
         Replaced(good, "\"path\": \"data/a.txt\"", "\"path\": \"data/b.txt\""),
         "entry 2 (data/b.txt): path does not match nameCp936"},
        {"a name the updater does not write",
         Replaced(Replaced(good, "\"path\": \"data/a.txt\"", "\"path\": \"data/A.txt\""),
                  "646174612f612e747874", "646174612f412e747874"),
         "entry 2 (data/A.txt): is not a name the updater writes"},
        {"an unknown kind", Replaced(good, "\"kind\": \"file\"", "\"kind\": \"link\""),
         "entry 2 (data/a.txt): kind is missing"},
        {"out of order", ManifestJson(reversed), "entry 3 (data/a.txt): out of order"},
        {"a file without its folder", ManifestJson(orphan),
         "entry 1 (data/a.txt): its folder is not an entry before it"},
        {"two paks", ManifestJson(twoPaks), "the pak is marked on 2 entries"},
        {"a file marked as the pak", Replaced(good, "\"kind\": \"file\"", "\"kind\": \"pak\""),
         "entry 2 (data/a.txt): marked as the pak, but its name does not end in .pak"},
        {"an offset beyond the pak",
         Replaced(Replaced(good, "\"recordedPakOffset\": 40", "\"recordedPakOffset\": 400"),
                  "\"pakOffset\": 40", "\"pakOffset\": 400"),
         "pakOffset 400 lies beyond the pak's end at 100"},
        {"an offset that is not the one in effect",
         Replaced(good, "\"pakOffset\": 40", "\"pakOffset\": 41"),
         "pakOffset 41 is not the offset in effect (40)"},
        {"a pak whose whole and earlier digests disagree at its end",
         Replaced(endOffset, "\"sha256BeforeOffset\": \"7272", "\"sha256BeforeOffset\": \"7372"),
         "sha256BeforeOffset differs from its sha256"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ReleaseManifest read = Release();
        std::string error;
        EXPECT_FALSE(ParseManifest(test.document, read, error));
        EXPECT_NE(error.find(test.says), std::string::npos) << error;
        EXPECT_TRUE(read.entries.empty() && read.version == 0);
    }
}

} // namespace

#include "identity/ReleaseIndex.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

IndexedPackage Package(std::uint32_t version, const std::string& file) {
    IndexedPackage package;
    package.fileName = file;
    package.path = std::filesystem::u8path(file);
    package.version = version;
    package.size = 1000 + version;
    package.sha256 = std::string(32, static_cast<char>(version & 0xFF));
    package.bytesWritten = 10;
    package.temporaryArchive = 20;
    return package;
}

// A three-step history as index writes it, the last step signed and timestamped.
ReleaseIndex History() {
    ReleaseIndex index;
    index.proven = true;
    for (std::uint32_t version = 3185; version <= 3187; ++version) {
        index.packages.push_back(Package(version, "p" + std::to_string(version) + ".exe"));
    }
    SignatureReport& signature = index.packages.back().signature;
    signature.present = true;
    signature.sealed = true;
    signature.digestAlgorithm = "sha256";
    signature.digest = SignatureReport::Digest::Matches;
    signature.signer.certificateFound = true;
    signature.signer.certificate = {"CN=Publisher", "CN=Issuer", "01AB", "2026-01-01T00:00:00Z",
                                    "2027-01-01T00:00:00Z"};
    signature.signer.timestamped = true;
    signature.signer.timestamp.time = "2026-12-09T05:12:30Z";
    return index;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(ReleaseIndexReadingTest, WhatIndexWritesReadsBackWhole) {
    const ReleaseIndex written = History();
    ReleaseIndex read;
    std::string error;
    ASSERT_TRUE(ParseIndex(IndexJson(written), read, error)) << error;
    EXPECT_TRUE(read.proven);
    ASSERT_EQ(read.packages.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(read.packages[i].version, written.packages[i].version);
        EXPECT_EQ(read.packages[i].fileName, written.packages[i].fileName);
        EXPECT_EQ(read.packages[i].size, written.packages[i].size);
        EXPECT_EQ(read.packages[i].sha256, written.packages[i].sha256);
    }
    const SignerDetails& signer = read.packages[2].signature.signer;
    EXPECT_TRUE(read.packages[2].signature.present && signer.certificateFound &&
                signer.timestamped);
    EXPECT_EQ(signer.certificate.subject, "CN=Publisher");
    EXPECT_EQ(signer.timestamp.time, "2026-12-09T05:12:30Z");
    EXPECT_TRUE(signer.timestamp.authoritySubject.empty());
    EXPECT_FALSE(read.packages[0].signature.present);
}

// Each document is one index would never write; none may become a page.
TEST(ReleaseIndexReadingTest, RefusesWhatIndexWouldRefuseOrNeverWrites) {
    const std::string good = IndexJson(History());
    const std::vector<std::pair<const char*, std::function<std::string()>>> documents = {
        {"gap",
         [&] {
             ReleaseIndex index = History();
             index.packages.erase(index.packages.begin() + 1);
             return IndexJson(index);
         }},
        {"two packages for one step",
         [&] {
             ReleaseIndex index = History();
             index.packages[1] = Package(3185, "again.exe");
             return IndexJson(index);
         }},
        {"one file name twice",
         [&] {
             ReleaseIndex index = History();
             index.packages[2].fileName = "p3185.exe";
             return IndexJson(index);
         }},
        {"out of order",
         [&] {
             ReleaseIndex index = History();
             std::swap(index.packages[0], index.packages[2]);
             return IndexJson(index);
         }},
        {"no package", [] { return IndexJson(ReleaseIndex()); }},
        {"a name in another folder",
         [&] { return Replaced(good, "\"p3186.exe\"", "\"../p3186.exe\""); }},
        {"a name with a backslash",
         [&] { return Replaced(good, "\"p3186.exe\"", "\"x\\\\p3186.exe\""); }},
        {"a step that is no step",
         [&] { return Replaced(good, "\"fromVersion\": 3185", "\"fromVersion\": 3184"); }},
        {"a version shown otherwise",
         [&] {
             return Replaced(good, "\"versionShown\": \"31.86\"", "\"versionShown\": \"31.9\"");
         }},
        {"a short digest", [&] { return Replaced(good, "717171", "71"); }},
        {"a size that is text",
         [&] { return Replaced(good, "\"size\": 4186", "\"size\": \"4186\""); }},
        {"signed but not sealed",
         [&] { return Replaced(good, "\"sealed\": true", "\"sealed\": false"); }},
        {"a digest that differs",
         [&] { return Replaced(good, "\"digestMatches\": true", "\"digestMatches\": false"); }},
        {"a signer without a signature",
         [&] { return Replaced(good, "\"present\": true", "\"present\": false"); }},
        {"no proven flag", [&] { return Replaced(good, "\"proven\": true,", ""); }},
        {"not JSON", [&] { return good.substr(0, good.size() / 2); }},
    };
    for (const auto& [name, document] : documents) {
        ReleaseIndex read;
        std::string error;
        EXPECT_FALSE(ParseIndex(document(), read, error)) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
}

TEST(ReleaseIndexReadingTest, NamesTheGapAsIndexDoes) {
    ReleaseIndex index = History();
    index.packages.erase(index.packages.begin() + 1);
    ReleaseIndex read;
    std::string error;
    EXPECT_FALSE(ParseIndex(IndexJson(index), read, error));
    EXPECT_NE(error.find("a gap: no package brings 3185 to 3186"), std::string::npos) << error;
}

} // namespace

#include "signing/FileHashing.h"
#include "pktest/PatchkitTestFiles.h"
#include "signing/SignatureDigest.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

namespace {

std::string Sha256(const std::string& bytes) {
    Hasher hasher("sha256");
    std::string digest;
    EXPECT_TRUE(hasher.Add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    EXPECT_TRUE(hasher.Finish(digest));
    return digest;
}

// Prefixes end inside pieces, at their edges, at the start, at the end and past it; the files are
// hashed several at a time.
TEST(FileHashingTest, OnePassGivesTheDigestOfEveryPrefixAndOfTheWholeFile) {
    testsupport::ScratchGameDirectory folder;
    const std::string large = testsupport::NoiseData(3 * 1024 * 1024 + 5, 11);
    const std::string small = "small";
    ASSERT_TRUE(pktest::PutFile("large.bin", large));
    ASSERT_TRUE(pktest::PutFile("small.bin", small));
    ASSERT_TRUE(pktest::PutFile("empty.bin", ""));
    const std::vector<std::uint64_t> prefixes = {
        0, 1024 * 1024, 2 * 1024 * 1024 + 7, large.size(), large.size() + 1, 3};
    const std::vector<HashRequest> requests = {
        {"small.bin", small.size(), {3, 0}},
        {"large.bin", large.size(), prefixes},
        {"empty.bin", 0, {0}},
        {"missing.bin", 0, {}},
    };
    std::vector<HashResult> results;
    ASSERT_TRUE(HashFiles(requests, results, WorkSettings{3, nullptr}, nullptr));
    ASSERT_EQ(results.size(), 4u);
    EXPECT_TRUE(results[0].read && results[0].whole == Sha256(small));
    EXPECT_EQ(results[0].prefixDigests[0], Sha256("sma"));
    EXPECT_EQ(results[0].prefixDigests[1], Sha256(""));
    EXPECT_TRUE(results[1].read && results[1].size == large.size());
    EXPECT_EQ(results[1].whole, Sha256(large));
    for (std::size_t i = 0; i < prefixes.size(); ++i) {
        SCOPED_TRACE(prefixes[i]);
        EXPECT_EQ(results[1].prefixDigests[i],
                  prefixes[i] <= large.size() ? Sha256(large.substr(0, prefixes[i])) : "");
    }
    EXPECT_TRUE(results[2].read && results[2].prefixDigests[0] == Sha256(""));
    EXPECT_FALSE(results[3].read);
}

TEST(FileHashingTest, AStopLeavesTheWorkUndone) {
    testsupport::ScratchGameDirectory folder;
    ASSERT_TRUE(pktest::PutFile("a.bin", "a"));
    const std::atomic<bool> stop{true};
    std::vector<HashResult> results;
    EXPECT_FALSE(HashFiles({{"a.bin", 1, {}}}, results, WorkSettings{1, nullptr}, &stop));
    EXPECT_FALSE(results[0].read);
}

} // namespace

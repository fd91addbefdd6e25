#include "PageHistory.h"

#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"

#include <gtest/gtest.h>

namespace pagetest {

std::string PackageName(std::uint32_t version) {
    return "QRTManualPatch-" + std::to_string(version / 100) + "." + std::to_string(version % 100) +
           ".exe";
}

namespace {

std::string Release(std::uint32_t version) {
    return "r" + std::to_string(version);
}

// Each release appends to the pak and changes the read-me, so each package differs in size.
void MakeRelease(std::uint32_t version) {
    std::string pak;
    for (std::uint32_t step = kOldest; step <= version; ++step) {
        pak += testsupport::NoiseData(100000 + 20000 * (step - kOldest), step);
    }
    ASSERT_TRUE(
        pktest::PutFile(Release(version) + "/version.ini", std::to_string(version) + "\r\n0\r\n"));
    ASSERT_TRUE(pktest::PutFile(Release(version) + "/res.pak", pak));
    ASSERT_TRUE(
        pktest::PutFile(Release(version) + "/readme.txt", "read me " + std::to_string(version)));
}

} // namespace

void MakeProvenHistory() {
    ASSERT_TRUE(pktest::PutFile("stub.exe", pktest::MinimalPeImage()));
    std::string packages;
    std::string releases;
    for (std::uint32_t version = kOldest; version <= kNewest; ++version) {
        MakeRelease(version);
        releases += " " + Release(version);
        if (version == kOldest) {
            continue;
        }
        const pktest::Outcome made =
            pktest::Patchkit("diff --old " + Release(version - 1) + " --new " + Release(version) +
                             " --stub stub.exe -o " + PackageName(version));
        ASSERT_EQ(made.exitCode, 0) << made.err;
        packages += " " + PackageName(version);
    }
    const pktest::Outcome indexed =
        pktest::Patchkit("index" + packages + " -o releases.json --releases" + releases);
    ASSERT_EQ(indexed.exitCode, 0) << indexed.err;
}

} // namespace pagetest

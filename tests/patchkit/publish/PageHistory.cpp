#include "PageHistory.h"

#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"

#include <gtest/gtest.h>

#include <ctime>

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

// A throw-away publisher's certificate and a timestamp authority's (osslsigncode's own).
void MakeSigningKeys() {
    const std::string request = "openssl req -x509 -newkey ec -pkeyopt "
                                "ec_paramgen_curve:prime256v1 -nodes -days 3 ";
    ASSERT_EQ(pktest::Shell(request +
                            "-keyout key.pem -out cert.pem -subj '/C=CN/O=QRT Games/"
                            "CN=QRT Games Publisher' -addext extendedKeyUsage=codeSigning"),
              0);
    ASSERT_EQ(pktest::Shell(request + "-keyout tsa-key.pem -out tsa-cert.pem -subj "
                                      "'/CN=QRT Test TSA' -addext "
                                      "extendedKeyUsage=critical,timeStamping"),
              0);
}

// The newest package signed and timestamped, the one before signed only, the oldest unsigned:
// each way the page names a signature.
std::string SignOption(std::uint32_t version) {
    const std::string sign = " --sign 'osslsigncode sign -certs cert.pem -key key.pem -h sha256 ";
    if (version == kNewest) {
        return sign + "-TSA-certs tsa-cert.pem -TSA-key tsa-key.pem -TSA-time " +
               std::to_string(std::time(nullptr) - 60) + " -in {file} -out {signed}'";
    }
    return version == kNewest - 1 ? sign + "-in {file} -out {signed}'" : std::string();
}

} // namespace

void MakeProvenHistory() {
    ASSERT_NO_FATAL_FAILURE(MakeSigningKeys());
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
                             " --stub stub.exe -o " + PackageName(version) + SignOption(version));
        ASSERT_EQ(made.exitCode, 0) << made.err;
        packages += " " + PackageName(version);
    }
    const pktest::Outcome indexed =
        pktest::Patchkit("index" + packages + " -o releases.json --releases" + releases);
    ASSERT_EQ(indexed.exitCode, 0) << indexed.err;
}

} // namespace pagetest

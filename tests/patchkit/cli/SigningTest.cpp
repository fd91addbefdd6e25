// Signing in the release step (build and diff --sign) and what inspect tells of the signer, with
// Debian's osslsigncode and throw-away certificates; the timestamp authority is osslsigncode's own.
#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <ctime>
#include <set>

namespace fs = std::filesystem;

namespace {

using namespace pktest;
using testsupport::ReadBinaryFile;

const std::string kSignInto = "osslsigncode sign -certs cert.pem -key key.pem -h sha256 ";
const std::string kSignCommand = kSignInto + "-in {file} -out {signed}";

// One word for the shell, whatever quotes it holds.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// "notBefore=2026-12-09 05:12:30Z" from openssl becomes "2026-12-09T05:12:30Z".
std::string OpensslField(const std::string& options, const std::string& field) {
    EXPECT_EQ(Shell("openssl x509 -in cert.pem -noout " + options), 0);
    std::string value = FirstLine(ReadBinaryFile("tool-out.txt"));
    value = value.substr(value.find('=') + 1);
    const std::size_t blank = value.find(' ');
    if (field != "serial" && blank != std::string::npos) {
        value[blank] = 'T';
    }
    return value;
}

std::string UtcText(std::time_t time) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&time));
    return text;
}

class SigningTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PutFile("stub.exe", pktest::MinimalPeImage()));
        ASSERT_TRUE(PutFile("source/readme.txt", "new"));
        ASSERT_TRUE(PutFile("source/res.pak", testsupport::NoiseData(5000)));
        ASSERT_TRUE(PutFile("game/version.ini", "3186\r\n0\r\n"));
        ASSERT_TRUE(PutFile("game/res.pak", "old"));
        const std::string request = "openssl req -x509 -newkey ec -pkeyopt "
                                    "ec_paramgen_curve:prime256v1 -nodes -days 3 ";
        // A comma in the organisation: the name must not read as one more part.
        ASSERT_EQ(Shell(request + "-keyout key.pem -out cert.pem -subj '/C=CN/O=Mist, Ltd/"
                                  "CN=Publisher' -addext extendedKeyUsage=codeSigning"),
                  0)
            << ReadBinaryFile("tool-out.txt");
        ASSERT_EQ(Shell(request + "-keyout tsa-key.pem -out tsa-cert.pem -subj '/CN=Test TSA' "
                                  "-addext extendedKeyUsage=critical,timeStamping"),
                  0)
            << ReadBinaryFile("tool-out.txt");
    }

    // The files of the current folder, to show that a failed step leaves nothing behind.
    static std::set<std::string> Listing() {
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(".")) {
            names.insert(item.path().filename().string());
        }
        names.erase("patchkit-out.txt");
        names.erase("patchkit-err.txt");
        names.erase("tool-out.txt");
        return names;
    }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(SigningTest, InspectNamesTheSignerAndTheTimestampOrItsAbsence) {
    ASSERT_EQ(Patchkit("build --stub stub.exe --version 3187 --from source -o p.exe").exitCode, 0);
    const std::time_t stamped = std::time(nullptr) - 60;
    ASSERT_EQ(Shell(kSignInto + "-in p.exe -out plain.exe"), 0);
    ASSERT_EQ(Shell(kSignInto + "-TSA-certs tsa-cert.pem -TSA-key tsa-key.pem -TSA-time " +
                    std::to_string(stamped) + " -in p.exe -out stamped.exe"),
              0)
        << ReadBinaryFile("tool-out.txt");
    for (const char* package : {"plain.exe", "stamped.exe"}) {
        const Outcome sealed = Patchkit(std::string("seal ") + package);
        ASSERT_EQ(sealed.exitCode, 0) << sealed.err;
    }
    EXPECT_EQ(Shell("osslsigncode verify -CAfile cert.pem -TSA-CAfile tsa-cert.pem -in "
                    "stamped.exe"),
              0)
        << ReadBinaryFile("tool-out.txt");

    const std::string subject = "CN=Publisher, O=Mist\\\\, Ltd, C=CN"; // as JSON writes it
    const std::string signer =
        "\"signer\": {\n      \"subject\": \"" + subject + "\",\n      \"issuer\": \"" + subject +
        "\",\n      \"serialNumber\": \"" + OpensslField("-serial", "serial") +
        "\",\n      \"notBefore\": \"" + OpensslField("-dateopt iso_8601 -startdate", "notBefore") +
        "\",\n      \"notAfter\": \"" + OpensslField("-dateopt iso_8601 -enddate", "notAfter") +
        "\"\n    },\n    \"timestamp\": ";
    const Outcome plain = Patchkit("inspect plain.exe --json");
    EXPECT_EQ(plain.exitCode, 0) << plain.out;
    EXPECT_TRUE(Contains(plain.out, signer + "null\n")) << plain.out;
    const Outcome stampedJson = Patchkit("inspect stamped.exe --json");
    EXPECT_EQ(stampedJson.exitCode, 0) << stampedJson.out;
    EXPECT_TRUE(Contains(stampedJson.out, signer + "{\n      \"time\": \"" + UtcText(stamped) +
                                              "\",\n      \"authoritySubject\": \"CN=Test "
                                              "TSA\"\n    }\n"))
        << stampedJson.out;

    const Outcome text = Patchkit("inspect stamped.exe --require-timestamp --require-signed");
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "\nSigner  CN=Publisher, O=Mist\\, Ltd, C=CN\nIssuer  "))
        << text.out;
    EXPECT_TRUE(Contains(text.out, "\nTimestamp  " + UtcText(stamped) + " by CN=Test TSA\n"))
        << text.out;
    const Outcome untimed = Patchkit("inspect plain.exe --require-timestamp");
    EXPECT_EQ(untimed.exitCode, 1);
    EXPECT_TRUE(Contains(untimed.out, "\nTimestamp  none: the signature counts as invalid once "
                                      "the certificate expires\n"))
        << untimed.out;
    EXPECT_EQ(untimed.err, "patchkit: the signature carries no timestamp (--require-timestamp)\n");
    EXPECT_EQ(Patchkit("inspect plain.exe --require-signed").exitCode, 0);
    const Outcome unsignedPackage = Patchkit("inspect p.exe --require-signed --json");
    EXPECT_EQ(unsignedPackage.exitCode, 1);
    EXPECT_EQ(unsignedPackage.err, "patchkit: the package is not signed (--require-signed)\n");
    EXPECT_TRUE(Contains(unsignedPackage.out, "\"signer\": null,\n    \"timestamp\": null\n"))
        << unsignedPackage.out;
}

TEST_F(SigningTest, SignOptionGivesASealedPackageThatVerifiesAndApplies) {
    const auto before = Listing();
    const Outcome signedBuild = Patchkit("build --stub stub.exe --version 3187 --from source "
                                         "-o s.exe --sign " +
                                         ShellQuoted(kSignCommand));
    ASSERT_EQ(signedBuild.exitCode, 0) << signedBuild.err;
    auto expected = before;
    expected.insert("s.exe");
    EXPECT_EQ(Listing(), expected) << "the signing step left files behind";
    EXPECT_EQ(Shell("osslsigncode verify -CAfile cert.pem -in s.exe"), 0)
        << ReadBinaryFile("tool-out.txt");
    const Outcome inspected = Patchkit("inspect s.exe --verify --require-signed");
    EXPECT_EQ(inspected.exitCode, 0) << inspected.out;
    EXPECT_TRUE(Contains(inspected.out, "Signature  sha256, sealed, digest matches the file"))
        << inspected.out;
    fs::copy("game", "old", fs::copy_options::recursive);
    ASSERT_EQ(Patchkit("apply s.exe --game game").exitCode, 0);
    EXPECT_TRUE(ReadBinaryFile("game/res.pak") == "old" + testsupport::NoiseData(5000));
    EXPECT_EQ(ReadBinaryFile("game/readme.txt"), "new");

    // diff: the same step where it writes the package; --check applies the signed one.
    fs::copy("source", "new", fs::copy_options::recursive);
    ASSERT_TRUE(PutFile("new/version.ini", "3187\r\n0\r\n"));
    ASSERT_TRUE(PutFile("new/res.pak", "old" + testsupport::NoiseData(5000)));
    ASSERT_TRUE(PutFile("new/readme.txt", "newer"));
    const Outcome diffed = Patchkit("diff --old old --new new --stub stub.exe -o d.exe --check "
                                    "--json --sign " +
                                    ShellQuoted(kSignCommand));
    ASSERT_EQ(diffed.exitCode, 0) << diffed.err;
    EXPECT_EQ(diffed.out[0], '{') << "the signing tool's output went to standard output";
    EXPECT_TRUE(Contains(diffed.err, "Succeeded")) << diffed.err;
    EXPECT_TRUE(Contains(Patchkit("inspect d.exe").out, "sealed, digest matches the file"));
}

// Signing as a pipeline's script writes it: the key named by an environment variable and found in
// a folder with a blank, a quoted argument, a redirection and &&. The package's path holds what
// the shell would otherwise read as its own, and reaches the tool whole.
TEST_F(SigningTest, TheCommandRunsAsAShellLineWithThePackagePathQuoted) {
    ASSERT_TRUE(fs::create_directory("my keys"));
    fs::copy_file("key.pem", "my keys/key.pem");
    const std::string folder = "out $HOME 'q' \"d\" & (1) %PATH%";
    ASSERT_TRUE(fs::create_directory(folder));
    ASSERT_EQ(setenv("SIGNING_KEY", "my keys/key.pem", 1), 0);
    const std::string command =
        "osslsigncode sign -certs cert.pem -key \"$SIGNING_KEY\" -h sha256 -n 'QRT update 31.87' "
        "-in {file} -out {file}.signed >'signing log.txt' && mv {file}.signed {file}";
    const Outcome built =
        Patchkit("build --stub stub.exe --version 3187 --from source -o " +
                 ShellQuoted(folder + "/s.exe") + " --sign " + ShellQuoted(command));
    unsetenv("SIGNING_KEY");
    ASSERT_EQ(built.exitCode, 0) << built.err;
    EXPECT_TRUE(Contains(ReadBinaryFile("signing log.txt"), "Succeeded"));
    EXPECT_EQ(TreeOf(folder).size(), 1u) << "the signing step left files behind";
    const Outcome inspected =
        Patchkit("inspect " + ShellQuoted(folder + "/s.exe") + " --verify --require-signed");
    EXPECT_EQ(inspected.exitCode, 0) << inspected.out;
    EXPECT_TRUE(Contains(inspected.out, "Signature  sha256, sealed, digest matches the file"))
        << inspected.out;
}

TEST_F(SigningTest, AFailedStepLeavesNothingAndIsNamed) {
    ASSERT_TRUE(PutFile("s.exe", "the previous package"));
    const std::size_t archiveByte = pktest::MinimalPeImage().size() + 40;
    const std::string signInPlace =
        "sh -c '" + kSignInto + "-in \"$0\" -out \"$0.s\" >/dev/null && mv \"$0.s\" \"$0\"";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"false {file}", "signing failed: the command exited with 1"},
        {"no-such-signing-tool {file}", "signing failed: the command exited with 127"},
        {kSignCommand + " >/dev/null && exit 5", "signing failed: the command exited with 5"},
        {"true {file}", "signing failed: the command ended without signing"},
        {kSignInto + "-in {file} -out elsewhere.exe",
         "signing failed: the command ended without signing"},
        {"true {file} {signed}",
         "signing failed: the command wrote nothing to s.partial.signed.exe"},
        {signInPlace + " && printf junk >>\"$0\"' {file}",
         "sealing failed: s.partial.exe: data follows the certificate table"},
        {signInPlace + " && printf X | dd of=\"$0\" bs=1 seek=" + std::to_string(archiveByte) +
             " conv=notrunc 2>/dev/null' {file}",
         "the signature check failed: the signature's digest differs from the file's"},
        {"osslsigncode sign -in", "--sign: the command must name the package as {file}"},
        {" \t", "--sign: the command is empty"},
    };
    for (const auto& [command, says] : cases) {
        SCOPED_TRACE(command);
        fs::remove("elsewhere.exe");
        const auto before = Listing();
        const Outcome outcome = Patchkit("build --stub stub.exe --version 3187 --from source -o "
                                         "s.exe --sign " +
                                         ShellQuoted(command));
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_TRUE(Contains(outcome.err, "patchkit: nothing written:\n" + says)) << outcome.err;
        auto after = Listing();
        after.erase("elsewhere.exe");
        EXPECT_EQ(after, before);
        EXPECT_EQ(ReadBinaryFile("s.exe"), "the previous package");
    }
}
} // namespace

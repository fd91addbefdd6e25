#include "release/DiffWorkflow.h"

#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

using namespace pktest;

class DiffWorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PutFile("stub.exe", pktest::MinimalPeImage()));
        MakeRelease("old", 3186, 0, {{"a.txt", "old"}, {"res.pak", "pak"}});
        MakeRelease("new", 3187, 0, {{"a.txt", "new"}, {"res.pak", "pak and more"}});
    }

    static DiffJob Job() {
        DiffJob job;
        job.diff.oldFolder = "old";
        job.diff.newFolder = "new";
        job.build.stub = "stub.exe";
        job.build.output = "p.exe";
        job.check = true;
        return job;
    }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(DiffWorkflowTest, ACheckRunsBesideWhatAnEarlierCheckCouldNotRemove) {
    ASSERT_TRUE(PutFile("p.exe.check/a.txt", "left by an earlier check"));
    ASSERT_TRUE(PutFile("update.check.package", "left by an earlier check"));
    DiffJob job = Job();
    DiffRun run;
    EXPECT_EQ(RunDiffJob(job, run), DiffResult::Written) << run.error;
    EXPECT_TRUE(run.outcome.differences.empty());

    job.folder = "update";
    DiffRun folderRun;
    EXPECT_EQ(RunDiffJob(job, folderRun), DiffResult::Written) << folderRun.error;

    EXPECT_EQ(testsupport::ReadBinaryFile("p.exe.check/a.txt"), "left by an earlier check");
    EXPECT_EQ(testsupport::ReadBinaryFile("update.check.package"), "left by an earlier check");
    EXPECT_FALSE(fs::exists("p.exe.check-2"));
    EXPECT_FALSE(fs::exists("update.check.package-2"));
}

// Bytes past OLD's recorded offset that the update does not overwrite make the check fail.
TEST_F(DiffWorkflowTest, ARejectedOutputIsRemovedOrSaidToStay) {
    MakeRelease("old", 3186, 3, {{"a.txt", "old"}, {"res.pak", "pakJUNK"}});
    MakeRelease("new", 3187, 0, {{"a.txt", "new"}, {"res.pak", "pak+"}});
    DiffRun run;
    EXPECT_EQ(RunDiffJob(Job(), run), DiffResult::Differs);
    EXPECT_FALSE(run.outcome.differences.empty());
    EXPECT_TRUE(run.outputRemoved);
    EXPECT_FALSE(fs::exists("p.exe"));

    // The program, with a removal that fails: it must not claim the package is gone.
    ASSERT_EQ(setenv("LD_PRELOAD", UNREMOVABLE_FILES_LIBRARY, 1), 0);
    ASSERT_EQ(setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1), 0);
    const pktest::Outcome kept =
        pktest::Patchkit("diff --old old --new new --stub stub.exe -o unremovable.exe --check");
    unsetenv("LD_PRELOAD");
    unsetenv("ASAN_OPTIONS");
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_TRUE(Contains(kept.err, "unremovable.exe could not be removed: do not ship it"))
        << kept.err;
    EXPECT_FALSE(Contains(kept.err, "is removed")) << kept.err;
}

} // namespace

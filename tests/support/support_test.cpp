// The helpers every test program leans on: a folder that is always cleared
// away, and a child program whose output, status and end the test controls.
#include "tests/support/Files.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using zarntest::Program;
using zarntest::TempDir;

TEST(TempDir, IsPrivateFreshAndGoneAfterwardsEvenWhenLockedUp) {
    fs::path kept;
    {
        const TempDir a("support");
        const TempDir b("support");
        kept = a.path();
        EXPECT_NE(a.path(), b.path());
        EXPECT_EQ(a.path().filename().string().rfind("zarn-support-", 0), 0u) << a.path();
        struct stat st = {};
        ASSERT_EQ(stat(a.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_TRUE(fs::is_empty(a.path()));
        // A test that takes the rights away from a folder and its parents
        // (only a test run by a user other than root can see it matter).
        fs::create_directories(a / "deep/er");
        std::ofstream(a / "deep/er/file") << "x";
        ASSERT_EQ(chmod((a / "deep/er").c_str(), 0), 0);
        ASSERT_EQ(chmod((a / "deep").c_str(), 0500), 0);
        ASSERT_EQ(chmod(a.path().c_str(), 0500), 0);
    }
    EXPECT_FALSE(fs::exists(kept));
}

// The running suite names a folder made without a name.
class Folders : public zarntest::FolderTest {};

TEST_F(Folders, EachTestHasItsOwnFolderNamedAfterTheSuite) {
    EXPECT_EQ(fs::path(dir).filename().string().rfind("zarn-Folders-", 0), 0u) << dir;
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(dir, folder.path());
}

namespace {

// A shell script as a child program, its output in the test's folder.
class ChildProgram : public zarntest::FolderTest {
protected:
    Program Run(const std::string& script, const Program::Environment& env = {},
                const std::string& workIn = {}) {
        return Program({"/bin/sh", "-c", script}, env, dir + "/out", dir + "/err", workIn);
    }
};

} // namespace

TEST_F(ChildProgram, TellsTheExitStatusAndWhatItPrinted) {
    Program p = Run("echo one; echo two >&2; exit 3");
    EXPECT_EQ(p.Wait(), 3);
    EXPECT_EQ(p.Out(), "one\n");
    EXPECT_EQ(p.Err(), "two\n");
    EXPECT_FALSE(p.Running());
    Program missing({dir + "/no-such-program"}, {}, dir + "/out2", dir + "/err2");
    EXPECT_NE(missing.Wait(), 0) << "a program that cannot start is not a success";
}

TEST_F(ChildProgram, RunsWithTheChangedEnvironmentInTheGivenFolder) {
    setenv("ZARN_SUPPORT_GONE", "here", 1);
    Program p = Run("echo \"$ZARN_SUPPORT_SET|${ZARN_SUPPORT_GONE-unset}|$(pwd)\"",
                    {{"ZARN_SUPPORT_SET", "a b"}, {"ZARN_SUPPORT_GONE", ""}}, dir);
    unsetenv("ZARN_SUPPORT_GONE");
    EXPECT_EQ(p.Wait(), 0) << p.Err();
    EXPECT_EQ(p.Out(), "a b|unset|" + fs::canonical(dir).string() + "\n");
}

TEST_F(ChildProgram, HandsOutItsLinesOneByOneAsTheyCome) {
    Program p = Run("echo first; echo second; sleep 0.3; printf 'third\\npart'; sleep 5");
    EXPECT_EQ(p.Line(), "first");
    EXPECT_EQ(p.Line(), "second");
    EXPECT_EQ(p.Line(), "third");
    EXPECT_EQ(p.Line(0.2), "") << "a line without its end is not handed out";
    EXPECT_TRUE(p.Running());
}

TEST_F(ChildProgram, OneThatDoesNotEndInTimeIsKilled) {
    Program p = Run("sleep 30");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(p.Wait(0.2), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_FALSE(p.Running());
    Program q = Run("trap 'exit 7' TERM; while :; do sleep 0.05; done");
    ASSERT_TRUE(q.Running());
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // until the trap is set
    q.Signal(SIGTERM);
    EXPECT_EQ(q.Wait(), 7);
}

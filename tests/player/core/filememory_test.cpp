#include "platform/profile.h"
#include "player/core/FileMemory.h"
#include "tests/CommaLocale.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kSecond = 10'000'000;

class FileMemoryTest : public zarntest::FolderTest {
protected:
    const std::string file = dir + "/positions.txt";
};

std::string Name(int i) {
    return "/home/user/Books/book " + std::to_string(i) + ".m4b";
}

} // namespace

TEST_F(FileMemoryTest, RoundTripKeepsEntriesOrderAndAwkwardPaths) {
    const std::string awkward = "/tmp/a\tb\nc\\t\r\\ d.mp3";
    const std::string latin1 = "/tmp/\xe9t\xe9 \xff.ogg";
    FileMemory memory(file);
    EXPECT_TRUE(memory.Remember(Name(1), {90 * kSecond, "2.6", false}));
    EXPECT_TRUE(memory.Remember(awkward, {123456789, "1.4", false}));
    EXPECT_TRUE(memory.Remember(latin1, {0, "4.0", true}));
    EXPECT_TRUE(memory.Remember(Name(2), {5, "1.0", false}));
    memory.Save();

    std::string text = zarntest::ReadAll(file);
    // One line per file and a header: no byte of a path breaks a line.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);

    FileMemory again(file);
    EXPECT_EQ(again.Load(), 0u);
    EXPECT_EQ(again.Paths(), (std::vector<std::string>{Name(1), awkward, latin1, Name(2)}));
    EXPECT_EQ(again.Find(Name(1)), (FileMemoryEntry{90 * kSecond, "2.6", false}));
    EXPECT_EQ(again.Find(awkward), (FileMemoryEntry{123456789, "1.4", false}));
    EXPECT_EQ(again.Find(latin1), (FileMemoryEntry{0, "4.0", true}));
    EXPECT_FALSE(again.Find("/tmp/a"));
    EXPECT_FALSE(again.Find(Name(3)));
}

TEST_F(FileMemoryTest, KeepsTheLastThousandAndATouchedEntrySurvives) {
    FileMemory memory(file);
    for (int i = 0; i < 1000; ++i)
        memory.Remember(Name(i), {i * kSecond, "1.5", false});
    EXPECT_EQ(memory.Size(), 1000u);
    // A lookup makes 0 the newest, an update makes 1 the newest: 2 is oldest.
    ASSERT_TRUE(memory.Find(Name(0)));
    memory.Remember(Name(1), {7, "2.0", false});
    memory.Remember(Name(1000), {1000 * kSecond, "1.5", false});
    EXPECT_EQ(memory.Size(), 1000u);
    EXPECT_FALSE(memory.Find(Name(2)));
    EXPECT_TRUE(memory.Find(Name(3)));
    EXPECT_EQ(memory.Find(Name(0))->position, 0);
    EXPECT_EQ(memory.Find(Name(1)), (FileMemoryEntry{7, "2.0", false}));
    EXPECT_EQ(memory.Find(Name(1000))->position, 1000 * kSecond);

    // The order is kept by the file: after a reload the next newcomer drops
    // the same entry it would have dropped before.
    memory.Save();
    FileMemory again(file);
    again.Load();
    EXPECT_EQ(again.Paths(), memory.Paths());
    memory.Remember(Name(2000), {1, "1.0", false});
    again.Remember(Name(2000), {1, "1.0", false});
    EXPECT_EQ(again.Paths(), memory.Paths());
    EXPECT_FALSE(again.Find(Name(4)));

    memory.Forget(Name(1000));
    EXPECT_FALSE(memory.Find(Name(1000)));
    EXPECT_EQ(memory.Size(), 999u);
}

TEST_F(FileMemoryTest, RefusesWhatCannotBeStored) {
    FileMemory memory(file);
    EXPECT_FALSE(memory.Remember("", {1, "1.0", false}));
    EXPECT_FALSE(memory.Remember("/a", {-1, "1.0", false}));
    EXPECT_FALSE(memory.Remember("/a", {1, "", false}));
    EXPECT_FALSE(memory.Remember("/a", {1, "2,6", false}));
    EXPECT_FALSE(memory.Remember("/a", {1, "1.0\n", false}));
    EXPECT_FALSE(memory.Remember("/a", {1, "inf", false}));
    EXPECT_FALSE(memory.Remember("/a", {1, "0", false}));
    EXPECT_EQ(memory.Size(), 0u);
}

TEST_F(FileMemoryTest, DamagedLinesAreSkippedAndTheRestRead) {
    std::ofstream(file, std::ios::binary)
        << "# a comment\n"
        << "100\t2.6\t0\t/good/one.mp3\n"
        << "garbage\n"
        << "\n"
        << "-5\t1.0\t0\t/negative.mp3\n"
        << "12x\t1.0\t0\t/not-a-number.mp3\n"
        << "99999999999999999999999\t1.0\t0\t/too-big.mp3\n"
        << "7\t2,6\t0\t/comma.mp3\n"
        << "7\t1.0\t2\t/ended-two.mp3\n"
        << "7\t1.0\t0\t\n"
        << "7\t1.0\t0\t/bad\\escape.mp3\n"
        << "7\t1.0\t0\t/trailing-backslash\\\n"
        << "7\t1.0\n"
        << "200\t1.2\t1\t/good/two.mp3\r\n"
        << "300\t3.0\t0\t/good/one.mp3\n"
        << std::string("5\t1.0\t0\t/nul\0byte.mp3\n", 22) << "400\t1.0\t0\t/no-line-end.mp3";
    FileMemory memory(file);
    memory.Remember("/held/before.mp3", {1, "1.0", false});
    EXPECT_EQ(memory.Load(), 10u);
    // A later line for the same file wins and counts as newer.
    EXPECT_EQ(memory.Paths(),
              (std::vector<std::string>{"/good/two.mp3", "/good/one.mp3",
                                        std::string("/nul\0byte.mp3", 13), "/no-line-end.mp3"}));
    EXPECT_EQ(memory.Find("/good/one.mp3"), (FileMemoryEntry{300, "3.0", false}));
    EXPECT_EQ(memory.Find("/good/two.mp3"), (FileMemoryEntry{200, "1.2", true}));
}

TEST_F(FileMemoryTest, MissingFileIsEmptyAndFailuresAreReported) {
    FileMemory memory(file);
    memory.Remember("/a.mp3", {1, "1.0", false});
    EXPECT_EQ(memory.Load(), 0u);
    EXPECT_EQ(memory.Size(), 0u);

    // A folder in the file's place can be neither read nor replaced.
    fs::create_directory(file);
    memory.Remember("/a.mp3", {1, "1.0", false});
    EXPECT_THROW(memory.Load(), profile::Error);
    FileMemory other(file);
    other.Remember("/a.mp3", {1, "1.0", false});
    try {
        other.Save();
        ADD_FAILURE() << "a save over a folder was reported as done";
    } catch (const profile::Error& e) {
        EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    }

    FileMemory nowhere(dir + "/no/such/folder/positions.txt");
    nowhere.Remember("/a.mp3", {1, "1.0", false});
    EXPECT_THROW(nowhere.Save(), profile::Error);
}

// A FIFO in the file's place would block the open forever; a huge file is
// nothing this program wrote. Neither is read, and neither is replaced by a
// memory that never held what it had.
TEST_F(FileMemoryTest, WhatCannotBeReadIsReportedAndNeverOverwritten) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    FileMemory memory(file);
    EXPECT_THROW(memory.Load(), profile::Error);
    EXPECT_EQ(memory.Size(), 0u);
    memory.Remember("/a.mp3", {1, "1.0", false});
    EXPECT_THROW(memory.Save(), profile::Error);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    fs::remove(file);
    std::ofstream(file, std::ios::binary) << "5\t1.0\t0\t/b.mp3\n";
    fs::resize_file(file, 64 << 20);
    EXPECT_THROW(memory.Load(), profile::Error);
    EXPECT_THROW(memory.Save(), profile::Error);
    EXPECT_EQ(fs::file_size(file), 64u << 20);

    // Once the file reads again, the memory saves again.
    fs::resize_file(file, 15);
    EXPECT_EQ(memory.Load(), 0u);
    EXPECT_EQ(memory.Paths(), std::vector<std::string>{"/b.mp3"});
    memory.Remember("/a.mp3", {1, "1.0", false});
    EXPECT_NO_THROW(memory.Save());
    FileMemory again(file);
    again.Load();
    EXPECT_EQ(again.Size(), 2u);
}

// Two players on one file: each save keeps what the other saved since it
// loaded; only what this one remembered, forgot or cleared changes.
TEST_F(FileMemoryTest, SavesMergeWithWhatAnotherPlayerSaved) {
    FileMemory seed(file);
    seed.Remember("/old.mp3", {3 * kSecond, "1.0", false});
    seed.Remember("/gone.mp3", {4 * kSecond, "1.0", false});
    seed.Save();

    FileMemory a(file), b(file);
    a.Load();
    b.Load();
    a.Remember("/a.mp3", {1 * kSecond, "2.0", false});
    a.Save();
    b.Remember("/b.mp3", {2 * kSecond, "3.0", false});
    b.Forget("/gone.mp3");
    b.Save();
    // b now holds a's entry too.
    EXPECT_EQ(b.Find("/a.mp3"), (FileMemoryEntry{1 * kSecond, "2.0", false}));
    a.Remember("/old.mp3", {9 * kSecond, "1.5", true});
    a.Save();

    FileMemory read(file);
    read.Load();
    EXPECT_EQ(read.Paths(), (std::vector<std::string>{"/a.mp3", "/b.mp3", "/old.mp3"}));
    EXPECT_EQ(read.Find("/b.mp3"), (FileMemoryEntry{2 * kSecond, "3.0", false}));
    EXPECT_EQ(read.Find("/old.mp3"), (FileMemoryEntry{9 * kSecond, "1.5", true}));

    b.Clear();
    b.Remember("/new.mp3", {5 * kSecond, "1.0", false});
    b.Save();
    read.Load();
    EXPECT_EQ(read.Paths(), std::vector<std::string>{"/new.mp3"});
}

// The same name typed in two folders is two files; one file spelled two
// ways is one.
TEST_F(FileMemoryTest, FilesAreKnownByTheirAbsoluteNormalisedPath) {
    const fs::path before = fs::current_path();
    fs::create_directories(dir + "/d1");
    fs::create_directories(dir + "/d2");
    FileMemory memory(file);
    fs::current_path(dir + "/d1");
    EXPECT_TRUE(memory.Remember("x.wav", {7 * kSecond, "2.0", false}));
    fs::current_path(dir + "/d2");
    const auto inD2 = memory.Find("x.wav");
    const auto spelled = memory.Find(dir + "//d2/../d1/./x.wav");
    fs::current_path(before);
    EXPECT_EQ(inD2, std::nullopt);
    EXPECT_EQ(spelled, (FileMemoryEntry{7 * kSecond, "2.0", false}));
    EXPECT_EQ(memory.Paths(), std::vector<std::string>{dir + "/d1/x.wav"});
}

TEST_F(FileMemoryTest, NumbersReadAndWriteTheSameUnderADecimalComma) {
    zarntest::CommaLocale comma;
    if (!comma.Active())
        GTEST_SKIP() << "no de_DE locale could be generated";
    FileMemory memory(file);
    EXPECT_TRUE(memory.Remember("/a.mp3", {1234567890123, "2.6", false}));
    EXPECT_FALSE(memory.Remember("/b.mp3", {1, "2,6", false}));
    memory.Save();
    EXPECT_NE(zarntest::ReadAll(file).find("1234567890123\t2.6\t0\t/a.mp3\n"), std::string::npos);
    FileMemory again(file);
    EXPECT_EQ(again.Load(), 0u);
    EXPECT_EQ(again.Find("/a.mp3"), (FileMemoryEntry{1234567890123, "2.6", false}));
}

// A writer killed at any moment leaves the old file or the new one, whole.
TEST_F(FileMemoryTest, SurvivesAKillDuringItsWrite) {
    FileMemory small(file);
    for (int i = 0; i < 10; ++i)
        small.Remember(Name(i), {i, "1.0", false});
    FileMemory large(file);
    for (int i = 0; i < 1000; ++i)
        large.Remember(Name(i) + std::string(200, 'x'), {i * kSecond, "2.6", i % 2 == 0});
    small.Save();

    for (int round = 0; round < 5; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                for (;;) {
                    large.Save();
                    small.Save();
                }
            } catch (...) {
            }
            _exit(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + 17 * round));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        FileMemory read(file);
        EXPECT_EQ(read.Load(), 0u);
        const std::vector<std::string> paths = read.Paths();
        EXPECT_TRUE(paths == small.Paths() || paths == large.Paths()) << paths.size();
    }
}

TEST(ResumePosition, ThreeSecondsEarlierFromTheStartWhenEnded) {
    const std::int64_t duration = 600 * kSecond;
    EXPECT_EQ(ResumePosition({90 * kSecond, "2.6", false}, duration), 87 * kSecond);
    EXPECT_EQ(ResumePosition({90 * kSecond, "2.6", false}, 0), 87 * kSecond);
    EXPECT_EQ(ResumePosition({3 * kSecond + 1, "1.0", false}, duration), 1);
    EXPECT_EQ(ResumePosition({3 * kSecond, "1.0", false}, duration), 0);
    EXPECT_EQ(ResumePosition({2 * kSecond, "1.0", false}, duration), 0);
    EXPECT_EQ(ResumePosition({0, "1.0", false}, duration), 0);
    EXPECT_EQ(ResumePosition({90 * kSecond, "1.0", true}, duration), 0);
    EXPECT_EQ(ResumePosition({duration, "1.0", false}, duration), 0);
    EXPECT_EQ(ResumePosition({duration + 1, "1.0", false}, duration), 0);
    EXPECT_EQ(ResumePosition({duration - 1, "1.0", false}, duration), duration - 1 - 3 * kSecond);
}

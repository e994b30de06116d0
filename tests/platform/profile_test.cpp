#include "platform/profile.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ProfileTest : public zarntest::FolderTest {
protected:
    void write(const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    std::string read() {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    const std::string file = dir + "/zarnplayer.ini";
};

} // namespace

TEST_F(ProfileTest, MissingFileGivesDefaultsAndIsNotCreatedByReads) {
    EXPECT_EQ(profile::ReadInteger(file, "player", "volume", 100), 100);
    EXPECT_EQ(profile::ReadString(file, "player", "rate", "1.0"), "1.0");
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(ProfileTest, SectionsAndKeysMatchWithoutCase) {
    write("[Player]\r\nVolume=42\r\nRate=2.0\r\n");
    EXPECT_EQ(profile::ReadInteger(file, "player", "volume", 100), 42);
    EXPECT_EQ(profile::ReadString(file, "PLAYER", "rate", ""), "2.0");
    profile::WriteInteger(file, "player", "volume", 7);
    EXPECT_EQ(profile::ReadInteger(file, "Player", "VOLUME", 0), 7);
    // One section, one key: the hand-written spelling was updated, not doubled.
    std::string text = read();
    EXPECT_EQ(text.find("[player]"), std::string::npos);
    EXPECT_EQ(text.find("42"), std::string::npos);
}

TEST_F(ProfileTest, IntegersDecimalHexAndJunk) {
    write("[s]\na=0x1F\nb=$ff\nc=-12\nd=12abc\ne=\nf= 15 \ng=0xFFFFFFFF\nh=99999999999\n");
    EXPECT_EQ(profile::ReadInteger(file, "s", "a", 0), 31);
    EXPECT_EQ(profile::ReadInteger(file, "s", "b", 0), 255);
    EXPECT_EQ(profile::ReadInteger(file, "s", "c", 0), -12);
    EXPECT_EQ(profile::ReadInteger(file, "s", "d", 5), 5);
    EXPECT_EQ(profile::ReadInteger(file, "s", "e", 6), 6);
    EXPECT_EQ(profile::ReadInteger(file, "s", "f", 0), 15);
    EXPECT_EQ(profile::ReadInteger(file, "s", "g", 0), -1);
    EXPECT_EQ(profile::ReadInteger(file, "s", "h", 3), 3);
    EXPECT_EQ(profile::ReadInteger(file, "s", "missing", 9), 9);
}

TEST_F(ProfileTest, WritesKeepOtherSectionsAndAddNewOnes) {
    write("; comment\n[form]\nstayontop=1\n\n[player]\nvolume=50\n");
    profile::WriteInteger(file, "form", "toolbar-playinfo", 0);
    profile::WriteString(file, "option", "skip-slient", "1");
    profile::WriteString(file, "player", "rate", "2.5");
    EXPECT_EQ(profile::ReadInteger(file, "form", "stayontop", 0), 1);
    EXPECT_EQ(profile::ReadInteger(file, "form", "toolbar-playinfo", 1), 0);
    EXPECT_EQ(profile::ReadInteger(file, "player", "volume", 0), 50);
    EXPECT_EQ(profile::ReadString(file, "player", "rate", ""), "2.5");
    EXPECT_EQ(profile::ReadInteger(file, "option", "skip-slient", 0), 1);
    std::string text = read();
    EXPECT_NE(text.find("; comment"), std::string::npos);
    // The new key sits inside its own section, before the next header.
    EXPECT_LT(text.find("toolbar-playinfo"), text.find("[player]"));
}

TEST_F(ProfileTest, ValueWithEqualsSignAndSpacesRoundTrips) {
    profile::WriteString(file, "player", "resume_file", "/home/a b/x=y.mp3");
    EXPECT_EQ(profile::ReadString(file, "player", "resume_file", ""), "/home/a b/x=y.mp3");
}

TEST_F(ProfileTest, MissingFolderRaisesErrorNamingTheFile) {
    std::string bad = dir + "/no/such/folder/zarnplayer.ini";
    try {
        profile::WriteInteger(bad, "player", "volume", 1);
        FAIL() << "write into a missing folder succeeded";
    } catch (const profile::Error& e) {
        EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
}

// A folder the user may not write: the write fails with a clear error and the
// old file stays as it was. Root ignores folder permissions, so the write runs
// in a child that drops to an unprivileged user.
TEST_F(ProfileTest, RefusedWriteLeavesOldFileIntact) {
    write("[player]\nvolume=33\n");
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        try {
            profile::WriteInteger(file, "player", "volume", 99);
        } catch (const profile::Error& e) {
            bool named = std::string(e.what()).find(file) != std::string::npos;
            _exit(named ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: write succeeded, 2: error without file name";
    EXPECT_EQ(read(), "[player]\nvolume=33\n");
    for (auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename(), "zarnplayer.ini") << "temporary file left behind";
}

// Reading trims blanks and takes off enclosing quotes; a value those would
// change still comes back exactly as it was written.
TEST_F(ProfileTest, ValuesRoundTripExactlyOrAreRefused) {
    write("[player]\r\nvolume=33\r\n");
    const std::string values[] = {"  lead",   "trail ",      "\tboth\t", "\"quoted\"",
                                  "'single'", "cr at end\r", "mid\rdle", "",
                                  "\"",       "a \" b",      " ",        "plain"};
    for (const std::string& v : values) {
        profile::WriteString(file, "player", "resume_file", v);
        EXPECT_EQ(profile::ReadString(file, "player", "resume_file", "default"), v)
            << "stored as: " << read();
    }
    EXPECT_EQ(profile::ReadInteger(file, "player", "volume", 0), 33);

    // A line break cannot be kept: the write is refused and says why.
    const std::string before = read();
    try {
        profile::WriteString(file, "player", "resume_file", "/music/two\nlines.mp3");
        FAIL() << "a value with a line break was written";
    } catch (const profile::Error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(file), std::string::npos) << what;
        EXPECT_NE(what.find("line break"), std::string::npos) << what;
    }
    EXPECT_EQ(read(), before);
}

// Files written by hand or by earlier versions read as they always did.
TEST_F(ProfileTest, HandWrittenQuotesAndBlanksReadAsBefore) {
    write("[player]\nrate = \"1.5\"\nname= a b \nsingle='x'\nhalf=\"x\n");
    EXPECT_EQ(profile::ReadString(file, "player", "rate", ""), "1.5");
    EXPECT_EQ(profile::ReadString(file, "player", "name", ""), "a b");
    EXPECT_EQ(profile::ReadString(file, "player", "single", ""), "x");
    EXPECT_EQ(profile::ReadString(file, "player", "half", ""), "\"x");
    // An ordinary value is stored without quotes.
    profile::WriteString(file, "player", "rate", "2.0");
    EXPECT_NE(read().find("\nrate=2.0\n"), std::string::npos) << read();
}

// A write changes its own line and nothing else: CR LF line ends and a last
// line without its end stay as they were.
TEST_F(ProfileTest, WriteChangesOnlyItsOwnLine) {
    write("; kept\r\n[player]\r\nvolume=50\r\nrate=2.0");
    profile::WriteInteger(file, "player", "volume", 7);
    EXPECT_EQ(read(), "; kept\r\n[player]\r\nvolume=7\r\nrate=2.0");
    profile::WriteInteger(file, "player", "mute", 1);
    EXPECT_EQ(read(), "; kept\r\n[player]\r\nvolume=7\r\nrate=2.0\r\nmute=1\r\n");
    profile::WriteInteger(file, "form", "stayontop", 1);
    EXPECT_EQ(
        read(),
        "; kept\r\n[player]\r\nvolume=7\r\nrate=2.0\r\nmute=1\r\n\r\n[form]\r\nstayontop=1\r\n");
}

// A file that is there but cannot be read (here: refused to the user) gives
// the defaults, and no write replaces it with only the keys written since.
// Root reads every file, so the reads and writes run in a child that drops
// to an unprivileged user.
TEST_F(ProfileTest, UnreadableFileIsNeverReplaced) {
    write("[player]\nvolume=33\nrate=2.6\n");
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        if (profile::ReadInteger(file, "player", "volume", 100) != 100 ||
            profile::ReadFailure(file).empty())
            _exit(4);
        try {
            profile::WriteInteger(file, "player", "volume", 99);
        } catch (const profile::Error& e) {
            _exit(std::string(e.what()).find(file) != std::string::npos ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: written over, 2: error without file name, 4: read failure not told";
    EXPECT_EQ(read(), "[player]\nvolume=33\nrate=2.6\n");
    EXPECT_EQ(profile::ReadFailure(file), "");
}

// A FIFO (or any other node) under the file's name neither hangs a read or
// a write nor is replaced.
TEST_F(ProfileTest, FifoInPlaceOfTheFileIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const auto readAndWrite = [&] {
        EXPECT_EQ(profile::ReadInteger(file, "player", "volume", 100), 100);
        EXPECT_NE(profile::ReadFailure(file), "");
        EXPECT_THROW(profile::WriteInteger(file, "player", "volume", 5), profile::Error);
    };
    EXPECT_TRUE(zarntest::ReturnsPromptly(readAndWrite, file));
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A settings file kept elsewhere through a link stays a link: the write
// replaces the file it points to.
TEST_F(ProfileTest, WriteThroughALinkReplacesItsTarget) {
    fs::create_directory(dir + "/kept");
    std::ofstream(dir + "/kept/real.ini", std::ios::binary) << "[player]\nvolume=33\n";
    fs::create_symlink("kept/real.ini", file);
    profile::WriteInteger(file, "player", "rate", 2);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(zarntest::ReadAll(dir + "/kept/real.ini"), "[player]\nvolume=33\nrate=2\n");
    for (const auto& entry : fs::directory_iterator(dir + "/kept"))
        EXPECT_EQ(entry.path().filename(), "real.ini") << "temporary file left behind";
}

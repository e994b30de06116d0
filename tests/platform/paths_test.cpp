// Where a copy keeps the user's files: beside a portable copy, in the XDG
// folder for an installed one, and what an older installed copy left in
// its bin folder moved there without loss.
#include "platform/paths.h"

#include "tests/support/Files.h"

#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace zarntest;

namespace {

class PathsTest : public FolderTest {
protected:
    static constexpr const char* kEngine = "../lib/zarnplayer/libzarnengine.so";

    // A prefix with bin/ and, for an installed copy, the engine in its
    // private folder.
    paths::Places Copy(const std::string& name, bool installed) {
        fs::create_directories(dir + "/" + name + "/bin");
        fs::create_directories(dir + "/" + name + "/lib");
        if (installed) {
            fs::create_directories(dir + "/" + name + "/lib/zarnplayer");
            std::ofstream(dir + "/" + name + "/lib/zarnplayer/libzarnengine.so") << "ELF";
        } else {
            std::ofstream(dir + "/" + name + "/lib/libzarnengine.so") << "ELF";
        }
        return {dir + "/" + name + "/bin/", "", dir + "/config", dir + "/home", kEngine};
    }
    std::string Config() const { return dir + "/config/zarnplayer/"; }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path) << text;
    }
};

TEST_F(PathsTest, PortableCopiesKeepFilesBesideTheProgram) {
    const paths::Places build = Copy("build", false);
    EXPECT_FALSE(paths::IsInstalled(build));
    EXPECT_EQ(paths::DataDirFor(build), build.programDir);

    // A folder the user made portable by its settings file keeps them.
    const paths::Places own = Copy("stick", false);
    Write(own.programDir + "zarnplayer.ini", "[player]\nrate=5\n");
    EXPECT_EQ(paths::DataDirFor(own), own.programDir);
    EXPECT_EQ(ReadAll(own.programDir + "zarnplayer.ini"), "[player]\nrate=5\n");
    EXPECT_FALSE(fs::exists(Config()));
}

TEST_F(PathsTest, InstalledCopyUsesTheConfigFolderThoughItsBinIsWritable) {
    const paths::Places installed = Copy("prefix", true);
    ASSERT_EQ(::access(installed.programDir.c_str(), W_OK), 0);
    EXPECT_TRUE(paths::IsInstalled(installed));
    EXPECT_EQ(paths::DataDirFor(installed), Config());
    EXPECT_TRUE(fs::is_directory(Config()));

    // Without XDG_CONFIG_HOME, or with a relative one (which the XDG rules
    // say to ignore): ~/.config.
    for (const std::string xdg : {"", "relative/config"}) {
        paths::Places p = installed;
        p.xdgConfigHome = xdg;
        EXPECT_EQ(paths::DataDirFor(p), dir + "/home/.config/zarnplayer/") << xdg;
    }
    // ZARNPLAYER_HOME names the folder whatever the copy.
    paths::Places named = installed;
    named.home = dir + "/named";
    EXPECT_EQ(paths::DataDirFor(named), dir + "/named/");
    EXPECT_TRUE(fs::is_directory(dir + "/named"));
}

// Root may write anywhere, so the choice runs in a child that drops to an
// unprivileged user.
TEST_F(PathsTest, UnwritablePortableFolderFallsBackToTheConfigFolder) {
    const paths::Places locked = Copy("locked", false);
    fs::create_directories(dir + "/config");
    ASSERT_EQ(::chmod(locked.programDir.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    ASSERT_EQ(::chmod((dir + "/config").c_str(), 0777), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        _exit(paths::DataDirFor(locked) == Config() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another folder, 3: cannot drop privileges";
    EXPECT_TRUE(fs::is_directory(Config()));
}

// An installed copy of old wrote the user's files beside itself; they move
// once, whole, and a file already in the config folder is never replaced.
TEST_F(PathsTest, FilesLeftInTheBinFolderMoveToTheConfigFolderOnce) {
    const paths::Places installed = Copy("prefix", true);
    const char* names[] = {"zarnplayer.ini", "default.lst", "bookmark.txt", "positions.txt",
                           "associations.ini"};
    for (const char* name : names)
        Write(installed.programDir + name, std::string("old ") + name + "\n");
    Write(installed.programDir + "zarnplayer", "the program");
    fs::create_directories(Config());
    Write(Config() + "bookmark.txt", "newer bookmarks\n");

    EXPECT_EQ(paths::DataDirFor(installed), Config());
    for (const char* name : names) {
        EXPECT_FALSE(fs::exists(installed.programDir + name)) << name;
        const std::string moved =
            Config() + name + (name == std::string("bookmark.txt") ? ".old" : "");
        EXPECT_EQ(ReadAll(moved), std::string("old ") + name + "\n") << name;
    }
    EXPECT_EQ(ReadAll(Config() + "bookmark.txt"), "newer bookmarks\n");
    EXPECT_EQ(ReadAll(installed.programDir + "zarnplayer"), "the program");

    // Later starts find nothing to move and change nothing.
    Write(Config() + "zarnplayer.ini", "[player]\nrate=7\n");
    EXPECT_EQ(paths::DataDirFor(installed), Config());
    EXPECT_EQ(ReadAll(Config() + "zarnplayer.ini"), "[player]\nrate=7\n");
    EXPECT_EQ(ReadAll(Config() + "bookmark.txt.old"), "old bookmark.txt\n");

    // With both names taken the old file stays where it is.
    Write(installed.programDir + "bookmark.txt", "older still\n");
    EXPECT_EQ(paths::DataDirFor(installed), Config());
    EXPECT_EQ(ReadAll(installed.programDir + "bookmark.txt"), "older still\n");
    EXPECT_EQ(ReadAll(Config() + "bookmark.txt.old"), "old bookmark.txt\n");
}

// The config folder on another file system: the files are copied whole,
// in several reads, and only then taken from the bin folder.
TEST_F(PathsTest, MoveAcrossFileSystemsCopiesWholeFiles) {
    struct stat here, there;
    if (::stat(dir.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev)
        GTEST_SKIP() << "/dev/shm is not another file system here";
    std::string shm = "/dev/shm/zarn-paths-XXXXXX";
    ASSERT_NE(mkdtemp(shm.data()), nullptr);
    paths::Places installed = Copy("prefix", true);
    installed.xdgConfigHome = shm;
    std::string big;
    for (int i = 0; big.size() < 200000; ++i)
        big += "/media/Book " + std::to_string(i) + ".m4b,1234567,2.6\n";
    Write(installed.programDir + "positions.txt", big);
    ::chmod((installed.programDir + "positions.txt").c_str(), 0640);

    EXPECT_EQ(paths::DataDirFor(installed), shm + "/zarnplayer/");
    EXPECT_EQ(ReadAll(shm + "/zarnplayer/positions.txt"), big);
    EXPECT_FALSE(fs::exists(installed.programDir + "positions.txt"));
    struct stat st;
    ASSERT_EQ(::stat((shm + "/zarnplayer/positions.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    fs::remove_all(shm);
}

} // namespace

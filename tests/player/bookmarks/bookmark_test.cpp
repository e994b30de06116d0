#include "player/bookmarks/Bookmark.h"

#include "platform/commatext.h"
#include "player/bookmarks/Hashstring.h"
#include "player/list/Filelist.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class BookmarkFile : public zarntest::FolderTest {
protected:
    void write(const std::string& data) {
        std::ofstream out(file, std::ios::binary);
        out << data;
    }
    std::string read() const {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static std::string record(const std::string& id, const std::string& title) {
        HashString r;
        r.Set("ID", id);
        r.Set("Title", title);
        r.Set("Type", "Directory");
        r.Set("Path", "/a");
        return r.GetText();
    }

    const std::string file = dir + "/bookmark.txt";
    TBookmarks b;
};

TEST_F(BookmarkFile, MissingFileGivesAnEmptyListAndSaveWritesTheHeader) {
    b.Load(file);
    EXPECT_TRUE(b.records.empty());
    EXPECT_EQ(b.NextId(), 1);
    ASSERT_TRUE(b.Save());
    EXPECT_EQ(read(), "zarnplayer bookmark ver 1.00\r\n");
}

TEST_F(BookmarkFile, LoadsLinesAfterAnExactHeaderOnly) {
    write("zarnplayer bookmark ver 1.00\nA\r\n\r\nB");
    b.Load(file);
    EXPECT_EQ(b.records, (std::vector<std::string>{"A", "", "B"}));

    for (const char* bad : {"zarnplayer bookmark ver 1.00  \r\nA\r\n",
                            "Zarnplayer bookmark ver 1.00\r\nA\r\n", "", "A\r\n"}) {
        write(bad);
        b.Load(file);
        EXPECT_TRUE(b.records.empty()) << bad;
    }
}

TEST_F(BookmarkFile, SaveWritesCrLfAfterEveryLineAndReloads) {
    b.Load(file);
    int first = b.AddDirectory("Lectures", "/audio/lectures");
    int second = b.AddFiles("Two", {"/m/a b.mp3", "/m/c,d.mp3"});
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    ASSERT_TRUE(b.Save());
    EXPECT_EQ(read(), "zarnplayer bookmark ver 1.00\r\n"
                      "ID = \"1\",Title = \"Lectures\",Type = \"Directory\","
                      "Path = \"%2Faudio%2Flectures\"\r\n" +
                          b.records[1] + "\r\n");

    TBookmarks again;
    again.Load(file);
    EXPECT_EQ(again.records, b.records);
    HashString r;
    r.SetText(again.records[1]);
    EXPECT_EQ(r.Get("Type"), "Files");
    EXPECT_EQ(ReadCommaText(r.Get("Path")), (std::vector<std::string>{"/m/a b.mp3", "/m/c,d.mp3"}));
}

TEST_F(BookmarkFile, FailedWriteKeepsTheOldFileAndIsReported) {
    write("zarnplayer bookmark ver 1.00\r\nold\r\n");
    b.Load(file);
    b.records.assign(50, record("1", "a long enough title to pass the limit"));

    // Even root cannot write past the file size limit.
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    testing::internal::CaptureStderr();
    bool saved = b.Save();
    std::string err = testing::internal::GetCapturedStderr();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_NE(b.LastError().find(file), std::string::npos) << b.LastError();
    // The size limit cuts the captured text short as well.
    EXPECT_NE(err.find("bookmarks were not saved"), std::string::npos) << err;
    EXPECT_EQ(read(), "zarnplayer bookmark ver 1.00\r\nold\r\n");
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename(), "bookmark.txt") << "temporary file left behind";
}

TEST_F(BookmarkFile, SaveIntoAMissingFolderFails) {
    b.Load(dir + "/no/such/folder/bookmark.txt");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(b.Save());
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_FALSE(b.LastError().empty());
}

TEST_F(BookmarkFile, UnreadableFileIsNeverOverwritten) {
    // A folder where the file should be cannot be read as one.
    fs::create_directory(file);
    fs::create_directory(file + "/keep");
    testing::internal::CaptureStderr();
    b.Load(file);
    b.AddDirectory("x", "/x");
    EXPECT_FALSE(b.Save());
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_TRUE(fs::is_directory(file + "/keep"));
}

TEST_F(BookmarkFile, FifoInPlaceOfTheFileDoesNotHangAndIsKept) {
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(zarntest::ReturnsPromptly([&] { b.Load(file); }, file));
    b.AddDirectory("x", "/x");
    EXPECT_FALSE(b.Save());
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_EQ(fs::status(file).type(), fs::file_type::fifo);
}

TEST_F(BookmarkFile, TheProcessListLivesInTheDataFolder) {
    write("zarnplayer bookmark ver 1.00\r\nA\r\n");
    std::string saved = std::getenv("ZARNPLAYER_HOME") ? std::getenv("ZARNPLAYER_HOME") : "";
    ::setenv("ZARNPLAYER_HOME", dir.c_str(), 1);
    Bookmarks().Load();
    saved.empty() ? ::unsetenv("ZARNPLAYER_HOME") : ::setenv("ZARNPLAYER_HOME", saved.c_str(), 1);
    EXPECT_EQ(Bookmarks().fileName, dir + "/bookmark.txt");
    EXPECT_EQ(Bookmarks().records, (std::vector<std::string>{"A"}));
    EXPECT_EQ(&Bookmarks(), &Bookmarks());
}

TEST(Bookmarks, NextIdIsTheLastIdPlusOne) {
    auto withIds = [](std::vector<std::string> ids) {
        TBookmarks b;
        for (const auto& id : ids) {
            HashString r;
            r.Set("ID", id);
            b.records.push_back(r.GetText());
        }
        return b.NextId();
    };
    EXPECT_EQ(withIds({"1", "2", "5"}), 6);
    EXPECT_EQ(withIds({"5", "2", "1"}), 2);
    EXPECT_EQ(withIds({"3", "x"}), 2);
    EXPECT_EQ(withIds({"3", ""}), 2);
    EXPECT_EQ(withIds({"2147483647"}), 2);
    EXPECT_EQ(withIds({"99999999999"}), 2);

    TBookmarks b;
    b.records.push_back("");
    EXPECT_EQ(b.NextId(), 2);
}

TEST(Bookmarks, AddKeepsKeyOrderAndReturnsTheNewId) {
    TBookmarks b;
    HashString last;
    last.Set("ID", "7");
    b.records.push_back(last.GetText());
    EXPECT_EQ(b.AddFiles("My list", {"/m/a b.mp3", "/m/c.mp3"}), 8);
    HashString r;
    r.SetText(b.records.back());
    ASSERT_EQ(r.Count(), 4);
    EXPECT_EQ(HashString::KeyOf(r.Line(0)), "ID");
    EXPECT_EQ(HashString::KeyOf(r.Line(1)), "Title");
    EXPECT_EQ(HashString::KeyOf(r.Line(2)), "Type");
    EXPECT_EQ(HashString::KeyOf(r.Line(3)), "Path");
    EXPECT_EQ(r.Get("Title"), "My list");
    EXPECT_EQ(r.Get("Path"), "\"/m/a b.mp3\",/m/c.mp3");
    EXPECT_EQ(b.AddDirectory("D", "/d"), 9);
}

TEST(Bookmarks, MenuItemsShowPositionAndTitleAndCarryTheId) {
    TBookmarks b;
    b.AddDirectory("Lectures", "/l");
    b.records.push_back("");
    HashString odd;
    odd.Set("Title", "No id");
    odd.Set("ID", "abc");
    b.records.push_back(odd.GetText());
    for (int i = 0; i < 9; ++i)
        b.AddDirectory("T" + std::to_string(i), "/x");

    BookmarkMenuItem first = b.FillMenuItem(0);
    EXPECT_EQ(first.Caption, "&0:Lectures");
    EXPECT_EQ(first.Tag, 1);
    BookmarkMenuItem empty = b.FillMenuItem(1);
    EXPECT_EQ(empty.Caption, "&1:");
    EXPECT_EQ(empty.Tag, 1);
    EXPECT_EQ(b.FillMenuItem(2).Tag, 1);
    EXPECT_EQ(b.FillMenuItem(10).Caption, "&10:T7");
    EXPECT_EQ(b.FillMenuItem(10).Tag, 9);
    auto items = b.MenuItems();
    ASSERT_EQ(items.size(), b.records.size());
    EXPECT_EQ(items[11].Caption, "&11:T8");
}

class BookmarkPlay : public BookmarkFile {
protected:
    std::string touch(const std::string& name) {
        std::string path = dir + "/" + name;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "x";
        return path;
    }
    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        for (int i = 0; i < list.Count(); ++i)
            names.push_back(list.Item(i)->FileName);
        return names;
    }
    static std::string withType(const std::string& id, const std::string& type,
                                const std::string& path) {
        HashString r;
        r.Set("ID", id);
        r.Set("Type", type);
        r.Set("Path", path);
        return r.GetText();
    }

    TFileList list;
};

TEST_F(BookmarkPlay, FilesWithCommasAndBlanksPlayAndMissingOnesAreSkipped) {
    std::string a = touch("a b.mp3");
    std::string c = touch("c,d.wav");
    std::string gone = dir + "/gone.mp3";
    int id = b.AddFiles("t", {a, gone, c, dir + "/sub"});
    fs::create_directory(dir + "/sub");
    b.AddToPlayList(id, list);
    EXPECT_EQ(listed(), (std::vector<std::string>{a, c}));
    EXPECT_EQ(list.UpdateCount(), 0);
}

TEST_F(BookmarkPlay, EveryBookmarkWithTheIdPlaysInListOrder) {
    std::string one = touch("one.mp3");
    std::string two = touch("music/two.mp3");
    touch("music/notes.txt");
    b.records.push_back(withType("3", "Files", CommaText({one})));
    b.records.push_back(withType("4", "Files", CommaText({touch("other.mp3")})));
    b.records.push_back(withType("3", "Directory", dir + "/music"));
    b.records.push_back(withType("3", "Playlist", one));
    b.AddToPlayList(3, list);
    EXPECT_EQ(listed(), (std::vector<std::string>{one, two}));
}

TEST_F(BookmarkPlay, MalformedIdIsFoundOnlyAsZero) {
    std::string one = touch("one.mp3");
    b.records.push_back(withType("x", "Files", CommaText({one})));
    b.AddToPlayList(1, list);
    EXPECT_EQ(list.Count(), 0);
    b.AddToPlayList(0, list);
    EXPECT_EQ(listed(), (std::vector<std::string>{one}));
}

} // namespace

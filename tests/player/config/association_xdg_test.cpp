// File-type association through the settings store on a private desktop,
// checked with the desktop's own tool.
#include "platform/classesroot/xdg.h"
#include "player/config/Extention.h"
#include "player/config/Tool.h"
#include "tests/platform/classesroot/xdg_sandbox.h"
#include "tests/player/config/fake_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct DesktopAssociation : ::testing::Test {
    XdgSandbox box;
    std::unique_ptr<TTool> tool;
    void SetUp() override {
        box.AddApp("other.desktop", "audio/mpeg");
        XdgSandbox::Write(box.MimeApps(), "[Default Applications]\naudio/mpeg=other.desktop\n");
        // The backup file lives beside the settings file.
        tool = std::make_unique<TTool>(box.dir + "/zarnplayer.ini");
    }
    std::string DesktopFile() const { return box.Data() + "/applications/zarnplayer.desktop"; }
};

} // namespace

TEST_F(DesktopAssociation, TickingMp3OverAnotherDefaultAndBack) {
    ASSERT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "other.desktop");
    TExtentions table(*tool);
    EXPECT_FALSE(table[9].Registered);
    FakeList list;
    table.Fill(list);
    list.Tick(".mp3", true);
    table.Apply();

    EXPECT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "zarnplayer.desktop");
    classesroot::KeyFile backup(XdgSandbox::Read(box.dir + "/associations.ini"));
    EXPECT_EQ(backup.Get("QRVE_Back", "audio/mpeg"), "other.desktop");
    classesroot::KeyFile entry(XdgSandbox::Read(DesktopFile()));
    EXPECT_EQ(entry.Get("Desktop Entry", "Comment"), "QRVE Media File");
    EXPECT_EQ(entry.Get("Desktop Entry", "Exec"),
              classesroot::QuoteExecArgument(TExtentions::ProgramFile()) + " %F");
    // A fresh start reads the association back, for the sharing rows too.
    TExtentions again(*tool);
    EXPECT_TRUE(again[7].Registered && again[8].Registered && again[9].Registered);
    EXPECT_FALSE(again[6].Registered);

    list.Tick(".mp3", false);
    table.Apply();
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "other.desktop");
    EXPECT_FALSE(XdgSandbox::Exists(DesktopFile()));
    backup = classesroot::KeyFile(XdgSandbox::Read(box.dir + "/associations.ini"));
    EXPECT_FALSE(backup.Get("QRVE_Back", "audio/mpeg"));
}

TEST_F(DesktopAssociation, ATypeWithNoEarlierDefaultGoesBackToNone) {
    TExtentions table(*tool);
    FakeList list;
    table.Fill(list);
    list.Tick(".wav", true);
    list.Tick(".mp3", true);
    table.Apply();
    ASSERT_EQ(XdgSandbox::DefaultFor("audio/x-wav"), "zarnplayer.desktop");
    list.Tick(".wav", false);
    table.Apply();
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/x-wav"), "");
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "zarnplayer.desktop");
    EXPECT_TRUE(XdgSandbox::Exists(DesktopFile()));
}

TEST_F(DesktopAssociation, AReadOnlyListEndsApplyAndNamesTheFile) {
    std::string before = XdgSandbox::Read(box.MimeApps());
    ASSERT_EQ(::chmod(box.MimeApps().c_str(), 0444), 0);
    TExtentions table(*tool);
    FakeList list;
    table.Fill(list);
    list.Tick(".avi", true);
    list.Tick(".mp3", true);
    try {
        table.Apply();
        FAIL() << "Apply went through";
    } catch (const classesroot::Error& e) {
        EXPECT_NE(std::string(e.what()).find(box.MimeApps()), std::string::npos) << e.what();
    }
    EXPECT_EQ(XdgSandbox::Read(box.MimeApps()), before);
    EXPECT_FALSE(table[0].Registered);
    EXPECT_FALSE(table[9].Registered);
    EXPECT_FALSE(XdgSandbox::Exists(DesktopFile()));
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "other.desktop");
}

namespace {

// The MIME types shared-mime-info files a name pattern under ("*.opus").
std::vector<std::string> GlobTypes(const std::string& pattern) {
    std::vector<std::string> types;
    std::istringstream globs(XdgSandbox::Read("/usr/share/mime/globs2"));
    for (std::string line; std::getline(globs, line);) {
        // weight:type:pattern[:flags]
        size_t a = line.find(':'), b = line.find(':', a + 1);
        if (line.empty() || line[0] == '#' || b == std::string::npos)
            continue;
        std::string glob = line.substr(b + 1);
        glob = glob.substr(0, glob.find(':'));
        if (glob == pattern)
            types.push_back(line.substr(a + 1, b - a - 1));
    }
    return types;
}

} // namespace

// Today's types are filed under the MIME types the desktop's own database
// gives their names, so the desktop and the options page agree.
TEST_F(DesktopAssociation, TodaysTypesUseTheDesktopsMimeTypes) {
    TExtentions table(*tool);
    ASSERT_GT(table.Count(), 17);
    for (int i = 17; i < table.Count(); ++i) {
        const std::string& ext = table[i].Extension;
        auto mime = classesroot::XdgRoot::MimeTypeOf(ext);
        ASSERT_TRUE(mime) << ext;
        auto known = GlobTypes("*" + ext);
        EXPECT_NE(std::find(known.begin(), known.end(), *mime), known.end())
            << ext << " is not filed under " << *mime;
    }
}

TEST_F(DesktopAssociation, OggRowsMoveTogetherAndTheDesktopAgrees) {
    TExtentions table(*tool);
    FakeList list;
    table.Fill(list);
    int ogg = -1;
    for (int i = 0; i < table.Count(); ++i)
        if (table[i].Extension == ".ogg")
            ogg = i;
    ASSERT_GE(ogg, 0);
    EXPECT_EQ(table.Explanation(ogg), "Audio Files (with .opus, .oga)");

    list.Tick(".opus", true);
    list.Tick(".m4b", true);
    table.Apply();
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/ogg"), "zarnplayer.desktop");
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/x-m4b"), "zarnplayer.desktop");
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/mp4"), "");
    classesroot::KeyFile entry(XdgSandbox::Read(DesktopFile()));
    EXPECT_EQ(entry.Get("Desktop Entry", "MimeType"), "audio/x-m4b;audio/ogg;");
    TExtentions again(*tool);
    for (int i = 0; i < again.Count(); ++i) {
        const std::string& ext = again[i].Extension;
        bool ours = ext == ".opus" || ext == ".ogg" || ext == ".oga" || ext == ".m4b";
        EXPECT_EQ(again[i].Registered, ours) << ext;
    }
}

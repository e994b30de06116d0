#include "platform/classesroot/xdg.h"

#include "tests/platform/classesroot/xdg_sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using classesroot::XdgRoot;

namespace {

const char* kOtherLists = "[Added Associations]\n"
                          "audio/mpeg=other.desktop;\n"
                          "\n"
                          "[Default Applications]\n"
                          "text/plain=vim.desktop\n"
                          "audio/mpeg=other.desktop\n";

void registerFileType(XdgRoot& r, const std::string& program) {
    r.WriteValue("QRVE.File", "", "QRVE Media File");
    r.WriteValue("QRVE.File\\DefaultIcon", "", program + ",0");
    r.WriteValue("QRVE.File\\shell\\open\\command", "", program + " \"%1\"");
    r.NotifyAssociationsChanged();
}

} // namespace

TEST(XdgRoot, ExtensionDefaultIsTheMimeTypesEntryAndSharedTypesMoveTogether) {
    XdgSandbox box;
    XdgSandbox::Write(box.MimeApps(), kOtherLists);
    XdgRoot r(box.Places());
    EXPECT_EQ(r.ReadValue(".mp3", ""), "other.desktop");
    EXPECT_FALSE(r.ReadValue(".wav", ""));
    r.WriteValue(".MP2", "", "QRVE.File");
    EXPECT_EQ(r.ReadValue(".mpa", ""), "QRVE.File");
    EXPECT_EQ(r.Identity(".mp3"), "audio/mpeg");
    EXPECT_EQ(r.Identity(".qt"), r.Identity(".mov"));
    EXPECT_NE(r.Identity(".wav"), r.Identity(".mp3"));
    std::string want = kOtherLists;
    want.replace(want.rfind("other.desktop"), 13, "zarnplayer.desktop");
    EXPECT_EQ(XdgSandbox::Read(box.MimeApps()), want);
    // Restoring an empty default leaves no entry, as before the association.
    r.WriteValue(".mp3", "", "");
    EXPECT_FALSE(r.ReadValue(".mp3", ""));
    EXPECT_EQ(XdgSandbox::Read(box.MimeApps()).find("zarnplayer"), std::string::npos);
}

TEST(XdgRoot, BackupValuesLiveInOurOwnFileByMimeType) {
    XdgSandbox box;
    XdgRoot r(box.Places());
    r.WriteValue(".mp3", "QRVE_Back", "");
    r.WriteValue(".avi", "QRVE_Back", "vlc.desktop;mpv.desktop;");
    EXPECT_EQ(r.ReadValue(".mp2", "QRVE_Back"), "");
    EXPECT_EQ(r.ReadValue(".avi", "QRVE_Back"), "vlc.desktop;mpv.desktop;");
    EXPECT_FALSE(r.ReadValue(".wav", "QRVE_Back"));
    EXPECT_NE(XdgSandbox::Read(box.Backup()).find("audio/mpeg="), std::string::npos);
    EXPECT_FALSE(XdgSandbox::Exists(box.MimeApps()));
    r.DeleteValue(".mp3", "QRVE_Back");
    EXPECT_FALSE(r.ReadValue(".mp3", "QRVE_Back"));
    EXPECT_EQ(r.ReadValue(".avi", "QRVE_Back"), "vlc.desktop;mpv.desktop;");
}

TEST(XdgRoot, FileTypeIsADesktopEntryListingTheTypesThatAreOurs) {
    XdgSandbox box;
    XdgRoot r(box.Places());
    EXPECT_FALSE(r.KeyExists("QRVE.File"));
    r.WriteValue(".mp3", "", "QRVE.File");
    registerFileType(r, "/opt/my player/zarnplayer");
    EXPECT_TRUE(r.KeyExists("QRVE.File\\shell\\open\\command"));
    classesroot::KeyFile entry(XdgSandbox::Read(r.DesktopFile()));
    EXPECT_EQ(entry.Get("Desktop Entry", "Type"), "Application");
    EXPECT_EQ(entry.Get("Desktop Entry", "Name"), "zarnplayer");
    EXPECT_EQ(entry.Get("Desktop Entry", "Comment"), "QRVE Media File");
    EXPECT_EQ(entry.Get("Desktop Entry", "Icon"), "zarnplayer");
    EXPECT_EQ(entry.Get("Desktop Entry", "Exec"), "\"/opt/my player/zarnplayer\" %F");
    EXPECT_EQ(entry.Get("Desktop Entry", "MimeType"), "audio/mpeg;");
    EXPECT_EQ(r.ReadValue("QRVE.File", ""), "QRVE Media File");

    r.WriteValue(".avi", "", "QRVE.File");
    entry = classesroot::KeyFile(XdgSandbox::Read(r.DesktopFile()));
    EXPECT_EQ(entry.Get("Desktop Entry", "MimeType"), "video/x-msvideo;audio/mpeg;");
    r.WriteValue(".mp3", "", "other.desktop");
    r.WriteValue(".avi", "", "");
    entry = classesroot::KeyFile(XdgSandbox::Read(r.DesktopFile()));
    EXPECT_FALSE(entry.Get("Desktop Entry", "MimeType"));

    r.DeleteKey("QRVE.File");
    EXPECT_FALSE(XdgSandbox::Exists(r.DesktopFile()));
    EXPECT_FALSE(r.KeyExists("QRVE.File"));
}

TEST(XdgRoot, TheRealXdgMimeAgreesBothWays) {
    XdgSandbox box;
    box.AddApp("other.desktop", "audio/mpeg");
    XdgSandbox::Write(box.MimeApps(), kOtherLists);
    ASSERT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "other.desktop");
    XdgRoot r(box.Places());
    r.WriteValue(".wav", "", "QRVE.File");
    r.WriteValue(".mp3", "", "QRVE.File");
    registerFileType(r, "/bin/true");
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "zarnplayer.desktop");
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/x-wav"), "zarnplayer.desktop");
    EXPECT_EQ(XdgSandbox::DefaultFor("text/plain"), "");

    // A type given back with no earlier default must not fall back to us
    // through the entry's MimeType or the desktop's cache of it.
    r.WriteValue(".wav", "", "");
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/x-wav"), "");
    r.WriteValue(".mp3", "", "other.desktop");
    EXPECT_EQ(XdgSandbox::DefaultFor("audio/mpeg"), "other.desktop");
}

TEST(XdgRoot, ReadOnlyListIsRefusedNamingTheFileAndLeftAsItWas) {
    XdgSandbox box;
    XdgSandbox::Write(box.MimeApps(), kOtherLists);
    ASSERT_EQ(::chmod(box.MimeApps().c_str(), 0444), 0);
    XdgRoot r(box.Places());
    try {
        r.WriteValue(".mp3", "", "QRVE.File");
        FAIL() << "the write went through";
    } catch (const classesroot::Error& e) {
        EXPECT_NE(std::string(e.what()).find(box.MimeApps()), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
    EXPECT_EQ(XdgSandbox::Read(box.MimeApps()), kOtherLists);
    EXPECT_EQ(r.ReadValue(".mp3", ""), "other.desktop");
}

TEST(XdgRoot, AFolderThatCannotBeMadeIsRefusedNamingIt) {
    XdgSandbox box;
    XdgSandbox::Write(box.dir + "/plainfile", "x");
    classesroot::XdgPlaces places = box.Places();
    places.configHome = box.dir + "/plainfile/config";
    XdgRoot r(places);
    try {
        r.WriteValue(".mp3", "", "QRVE.File");
        FAIL() << "the write went through";
    } catch (const classesroot::Error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot create the folder \"" + places.configHome),
                  std::string::npos)
            << e.what();
    }
}

TEST(XdgRoot, ALinkedListIsUpdatedWhereItLives) {
    XdgSandbox box;
    XdgSandbox::Write(box.dir + "/dotfiles/mimeapps.list", kOtherLists);
    std::filesystem::create_directories(box.Config());
    std::filesystem::create_symlink(box.dir + "/dotfiles/mimeapps.list", box.MimeApps());
    XdgRoot r(box.Places());
    r.WriteValue(".mp3", "", "QRVE.File");
    EXPECT_TRUE(std::filesystem::is_symlink(box.MimeApps()));
    EXPECT_NE(XdgSandbox::Read(box.dir + "/dotfiles/mimeapps.list").find("zarnplayer.desktop"),
              std::string::npos);
}

TEST(XdgRoot, DesktopListsThatComeFirstAreReported) {
    XdgSandbox box;
    classesroot::XdgPlaces places = box.Places();
    places.desktops = {"GNOME", "KDE"};
    XdgRoot r(places);
    EXPECT_TRUE(r.Notices().empty());
    XdgSandbox::Write(box.Config() + "/kde-mimeapps.list",
                      "[Default Applications]\ntext/plain=kate.desktop\n");
    EXPECT_TRUE(r.Notices().empty());
    XdgSandbox::Write(box.Config() + "/gnome-mimeapps.list",
                      "[Default Applications]\naudio/mpeg=rhythmbox.desktop\n"
                      "video/mpeg=totem.desktop\n");
    auto notices = r.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(box.Config() + "/gnome-mimeapps.list"), std::string::npos);
    EXPECT_NE(notices[0].find("video/mpeg, audio/mpeg"), std::string::npos) << notices[0];
}

TEST(XdgRoot, KeysItHasNoPlaceForAreRefused) {
    XdgSandbox box;
    XdgRoot r(box.Places());
    EXPECT_FALSE(r.KeyExists(".xyz"));
    EXPECT_THROW(r.WriteValue(".xyz", "", "QRVE.File"), classesroot::Error);
    EXPECT_THROW(r.WriteValue("Other.File", "", "x"), classesroot::Error);
    EXPECT_THROW(r.WriteValue(".mp3", "bad]name", "x"), classesroot::Error);
    EXPECT_THROW(r.WriteValue(".mp3", "", "a\n[Default Applications]"), classesroot::Error);
    EXPECT_FALSE(XdgSandbox::Exists(box.MimeApps()));
}

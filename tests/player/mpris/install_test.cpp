// ./zarn install into a temporary prefix: what lands where, that the
// desktop accepts the entry and the description, that the installed program
// finds its engine and renderer by itself, and that uninstall takes back
// exactly what install wrote.
#include "Process.h"

#include <set>

namespace fs = std::filesystem;
using namespace zarntest;

namespace {

std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out.insert(fs::relative(e.path(), root).string());
    return out;
}

TEST(InstallTest, InstalledProgramPlaysAndUninstallLeavesNothingBehind) {
    const std::string build = Env("ZARN_BUILD_DIR");
    const std::string source = Env("ZARN_SOURCE_DIR");
    for (const char* part :
         {"/bin/zarnplayer", "/lib/libzarnengine.so", "/lib/gstreamer-1.0/libgstzarnaudio.so"})
        if (build.empty() || !fs::exists(build + part))
            GTEST_SKIP() << build + part + " is not built";
    const TempDir folder("install");
    const std::string dir = folder.path();
    const std::string prefix = dir + "/prefix";
    // The user's own things in a folder the install shares stay put.
    fs::create_directories(prefix + "/share/applications");
    std::ofstream(prefix + "/share/applications/other.desktop") << "[Desktop Entry]\n";
    const std::set<std::string> before = Tree(prefix);

    const std::string zarn = "ZARN_BUILD_DIR='" + build + "' '" + source + "/zarn' ";
    ASSERT_EQ(Shell(zarn + "install '" + prefix + "' >'" + dir + "/install.log' 2>&1"), 0)
        << Read(dir + "/install.log");
    for (const char* file :
         {"bin/zarnplayer", "lib/zarnplayer/libzarnengine.so", "lib/zarnplayer/zarnplayer-probe",
          "lib/zarnplayer/gstreamer-1.0/libgstzarnaudio.so",
          "share/applications/org.zarnplayer.Player.desktop",
          "share/icons/hicolor/scalable/apps/org.zarnplayer.Player.svg",
          "share/metainfo/org.zarnplayer.Player.metainfo.xml"})
        EXPECT_TRUE(fs::exists(prefix + "/" + file)) << file;
    // The file-type association keeps its own entry; the launcher's is apart.
    EXPECT_FALSE(fs::exists(prefix + "/share/applications/zarnplayer.desktop"));

    const std::string entry = prefix + "/share/applications/org.zarnplayer.Player.desktop";
    EXPECT_NE(Read(entry).find("Exec=\"" + prefix + "/bin/zarnplayer\" %F"), std::string::npos)
        << Read(entry);
    if (Have("desktop-file-validate")) {
        EXPECT_EQ(Shell("desktop-file-validate '" + entry + "'"), 0);
    }
    if (Have("appstreamcli")) {
        EXPECT_EQ(Shell("appstreamcli validate --no-net '" + prefix +
                        "/share/metainfo/org.zarnplayer.Player.metainfo.xml' >/dev/null"),
                  0);
    }

    // Nothing of the build tree's environment: the program finds its engine
    // through its own run path and the engine its renderer beside itself.
    ASSERT_EQ(Shell("ffmpeg -v error -f lavfi -i sine=duration=3 -ac 2 '" + dir + "/tone.wav'"), 0);
    fs::create_directory(dir + "/home");
    std::ofstream(dir + "/home/zarnplayer.ini") << "[player]\nrepeat=0\n";
    Program installed({prefix + "/bin/zarnplayer", dir + "/tone.wav"},
                      {{"LD_LIBRARY_PATH", ""},
                       {"GST_PLUGIN_PATH", ""},
                       {"GST_REGISTRY", dir + "/registry.bin"},
                       {"DBUS_SESSION_BUS_ADDRESS", ""},
                       {"ZARN_AUDIO_DEVICE", "null"},
                       {"QT_QPA_PLATFORM", "offscreen"},
                       {"ZARNPLAYER_HOME", dir + "/home"}},
                      dir + "/out", dir + "/err");
    EXPECT_EQ(installed.Wait(30), 0) << Read(dir + "/err");
    EXPECT_NE(Read(dir + "/out").find("tone.wav  00:00:0"), std::string::npos)
        << Read(dir + "/out") << Read(dir + "/err");
    EXPECT_NE(Read(dir + "/out").find("/ 00:00:03"), std::string::npos) << Read(dir + "/out");

    ASSERT_EQ(Shell(zarn + "uninstall '" + prefix + "' >'" + dir + "/uninstall.log' 2>&1"), 0)
        << Read(dir + "/uninstall.log");
    EXPECT_EQ(Tree(prefix), before);
    // A second uninstall has nothing to remove and says so.
    EXPECT_NE(Shell(zarn + "uninstall '" + prefix + "' >/dev/null 2>&1"), 0);
}

} // namespace

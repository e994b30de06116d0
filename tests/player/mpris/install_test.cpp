// ./zarn install into a temporary prefix: what lands where, that the
// desktop accepts the entry and the description, that the installed program
// finds its engine and renderer by itself and keeps the user's files in the
// XDG folder, and that uninstall takes back exactly what install wrote.
#include "Process.h"

#include <regex>
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
    const std::string priv = ZARN_PRIVATE_DIR;
    for (const std::string& file : std::vector<std::string>{
             "bin/zarnplayer", priv + "/libzarnengine.so", priv + "/zarnplayer-probe",
             priv + "/gstreamer-1.0/libgstzarnaudio.so",
             "share/applications/org.zarnplayer.Player.desktop",
             "share/icons/hicolor/scalable/apps/org.zarnplayer.Player.svg",
             "share/metainfo/org.zarnplayer.Player.metainfo.xml", "share/zarnplayer/doc/index.htm",
             std::string(ZARN_MANDIR) + "/man1/zarnplayer.1.gz", "share/doc/zarnplayer/copyright",
             "share/doc/zarnplayer/changelog.Debian.gz"})
        EXPECT_TRUE(fs::exists(prefix + "/" + file)) << file;
    // The manual page names every option and variable that --help names.
    ASSERT_EQ(Shell("'" + prefix + "/bin/zarnplayer' --help >'" + dir + "/help.txt' && gzip -dc '" +
                    prefix + "/" + ZARN_MANDIR + "/man1/zarnplayer.1.gz' >'" + dir + "/man.txt'"),
              0);
    std::string manual = Read(dir + "/man.txt");
    for (size_t at; (at = manual.find('\\')) != std::string::npos;)
        manual.erase(at, 1);
    const std::string help = Read(dir + "/help.txt");
    const std::regex named("--[a-z-]+|\\b[A-Z][A-Z_]+_[A-Z]+\\b");
    int names = 0;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), named);
         it != std::sregex_iterator(); ++it, ++names)
        EXPECT_NE(manual.find(it->str()), std::string::npos)
            << it->str() << " is not in the manual";
    EXPECT_GE(names, 10) << help;
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
    // Its bin folder is writable, yet the user's files go to the XDG folder,
    // and settings an older install left in bin/ move there.
    ASSERT_EQ(Shell("ffmpeg -v error -f lavfi -i sine=duration=3 -ac 2 '" + dir + "/tone.wav'"), 0);
    std::ofstream(prefix + "/bin/zarnplayer.ini") << "[player]\nrepeat=0\n";
    const std::map<std::string, std::string> env = {{"LD_LIBRARY_PATH", ""},
                                                    {"GST_PLUGIN_PATH", ""},
                                                    {"GST_REGISTRY", dir + "/registry.bin"},
                                                    {"DBUS_SESSION_BUS_ADDRESS", ""},
                                                    {"ZARN_AUDIO_DEVICE", "null"},
                                                    {"QT_QPA_PLATFORM", "offscreen"},
                                                    {"ZARNPLAYER_HOME", ""},
                                                    {"XDG_CONFIG_HOME", dir + "/config"}};
    Program installed({prefix + "/bin/zarnplayer", dir + "/tone.wav"}, env, dir + "/out",
                      dir + "/err");
    EXPECT_EQ(installed.Wait(30), 0) << Read(dir + "/err");
    EXPECT_NE(Read(dir + "/out").find("tone.wav  00:00:0"), std::string::npos)
        << Read(dir + "/out") << Read(dir + "/err");
    EXPECT_NE(Read(dir + "/out").find("/ 00:00:03"), std::string::npos) << Read(dir + "/out");
    EXPECT_NE(Read(dir + "/config/zarnplayer/zarnplayer.ini").find("repeat=0"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir + "/config/zarnplayer/positions.txt"));
    EXPECT_EQ(Tree(prefix + "/bin"), std::set<std::string>{"zarnplayer"});

    // The export finds the renderer in the private folder too.
    Program exported({prefix + "/bin/zarnplayer", "--export", dir + "/fast.wav", "--rate", "2.0",
                      dir + "/tone.wav"},
                     env, dir + "/export.out", dir + "/export.err");
    EXPECT_EQ(exported.Wait(30), 0) << Read(dir + "/export.err");
    EXPECT_TRUE(fs::exists(dir + "/fast.wav")) << Read(dir + "/export.err");

    ASSERT_EQ(Shell(zarn + "uninstall '" + prefix + "' >'" + dir + "/uninstall.log' 2>&1"), 0)
        << Read(dir + "/uninstall.log");
    EXPECT_EQ(Tree(prefix), before);
    // A second uninstall has nothing to remove and says so.
    EXPECT_NE(Shell(zarn + "uninstall '" + prefix + "' >/dev/null 2>&1"), 0);
}

} // namespace

#include "player/config/Helpdoc.h"
#include "tests/support/Files.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(HelpDocument, BesideTheProgramFirstThenTheSharedFolder) {
    const zarntest::TempDir folder("help");
    const fs::path& root = folder.path();
    fs::create_directories(root / "bin");
    std::string bin = (root / "bin").string() + "/";
    EXPECT_FALSE(HelpDocument(bin));
    fs::create_directories(root / "share/zarnplayer/doc");
    std::ofstream(root / "share/zarnplayer/doc/index.htm") << "<html></html>";
    EXPECT_EQ(HelpDocument(bin), (root / "share/zarnplayer/doc/index.htm").string());
    fs::create_directories(root / "bin/doc");
    std::ofstream(root / "bin/doc/index.htm") << "<html></html>";
    EXPECT_EQ(HelpDocument(bin), (root / "bin/doc/index.htm").string());
}

TEST(HelpDocument, TheBuildTreeShipsIt) {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    ASSERT_TRUE(build);
    auto doc = HelpDocument(std::string(build) + "/bin/");
    ASSERT_TRUE(doc);
    std::ifstream in(*doc);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("Page Up"), std::string::npos);
}

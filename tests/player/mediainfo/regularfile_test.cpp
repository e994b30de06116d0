// The tag readers against names that are not regular files: a FIFO nobody
// writes to would block an ordinary open for ever, so each reader must come
// back at once with nothing found.
#include "platform/regularfile.h"
#include "player/mediainfo/Id3.h"
#include "player/mediainfo/Riffinfo.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class FifoDir : public ::testing::Test {
protected:
    void SetUp() override {
        fifo = (dir / "pipe.mp3").string();
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    }

    bool ReturnsPromptly(const std::function<void()>& read) {
        return zarntest::ReturnsPromptly(read, fifo);
    }

    zarntest::TempDir folder;
    const std::filesystem::path dir = folder.path();
    std::string fifo;
};

} // namespace

TEST_F(FifoDir, ReadersReturnAtOnceFromAPipeWithoutWriter) {
    bool id3Found = true;
    EXPECT_TRUE(ReturnsPromptly([&] { id3Found = TID3TAG(fifo).Found; }));
    EXPECT_FALSE(id3Found);
    bool riffFound = true;
    EXPECT_TRUE(ReturnsPromptly([&] { riffFound = TRIFFINFO(fifo).Found; }));
    EXPECT_FALSE(riffFound);
}

TEST_F(FifoDir, OnlyRegularFilesOpen) {
    int fd = -2;
    EXPECT_TRUE(ReturnsPromptly([&] { fd = OpenRegularFile(fifo); }));
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(OpenRegularFile(dir.string()), -1);
    EXPECT_EQ(OpenRegularFile("/dev/null"), -1);
    EXPECT_EQ(OpenRegularFile((dir / "missing.mp3").string()), -1);
    const std::string plain = (dir / "plain.mp3").string();
    std::FILE* f = std::fopen(plain.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    fd = OpenRegularFile(plain);
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        ::close(fd);
}

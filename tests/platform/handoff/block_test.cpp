#include "platform/handoff/Block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace handoff;

namespace {

// A block with guard bytes after it that must never change.
struct Guarded {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(BlockSize + 64, 0);
    Guarded() { std::fill(bytes.begin() + BlockSize, bytes.end(), 0xAA); }
    Block block() { return Block(bytes.data(), BlockSize); }
    bool GuardIntact() const {
        return std::all_of(bytes.begin() + BlockSize, bytes.end(),
                           [](std::uint8_t b) { return b == 0xAA; });
    }
};

} // namespace

TEST(Block, HandleAndTextKeepTheirPlaces) {
    Guarded g;
    SetWindowHandle(g.block(), 0x01020304u);
    PutText(g.block(), "a,b");
    EXPECT_EQ(WindowHandle(g.block()), 0x01020304u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g.bytes.data() + 4), 4), std::string("a,b\0", 4));
    EXPECT_EQ(TakeText(g.block()), "a,b");
    EXPECT_EQ(TakeText(g.block()), "") << "taking clears the text";
    EXPECT_EQ(WindowHandle(g.block()), 0x01020304u) << "the handle stays";
    EXPECT_TRUE(g.GuardIntact());
}

TEST(Block, AShorterTextLeavesNoTailOfAnEarlierOneThatWasNeverTaken) {
    Guarded g;
    PutText(g.block(), "/long/earlier/name.mp3");
    PutText(g.block(), "/b.mp3");
    EXPECT_EQ(TakeText(g.block()), "/b.mp3");
}

TEST(Block, TextIsCutAtTheLimitAndNothingPastTheBlockChanges) {
    Guarded g;
    SetWindowHandle(g.block(), 7);
    PutText(g.block(), std::string(70000, 'x'));
    EXPECT_TRUE(g.GuardIntact());
    EXPECT_EQ(g.bytes[4 + TextLimit - 1], 'x');
    EXPECT_EQ(g.bytes[4 + TextLimit], 0) << "a zero always ends the text";
    EXPECT_EQ(TakeText(g.block()).size(), TextLimit);
    EXPECT_TRUE(std::all_of(g.bytes.begin() + 4, g.bytes.begin() + BlockSize,
                            [](std::uint8_t b) { return b == 0; }));
}

TEST(Block, ABlockFilledToItsEndWithoutAZeroIsReadToTheEndOnly) {
    Guarded g;
    std::fill(g.bytes.begin() + 4, g.bytes.begin() + BlockSize, 'y');
    EXPECT_EQ(TakeText(g.block()), std::string(BlockSize - 4, 'y'));
    EXPECT_TRUE(g.GuardIntact());
}

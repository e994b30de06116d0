// The rate list every part goes by: values, steps at both ends, snapping.
#include "player/config/Rates.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "d.d" read digit by digit, apart from the number parser under test.
double Tenths(const std::string& text) {
    return ((text[0] - '0') * 10 + (text[2] - '0')) / 10.0;
}

TEST(RateList, EveryTextReadsAsItsValueAndFindsItself) {
    for (int i = 0; i < rates::kCount; ++i) {
        const std::string text = rates::kTexts[i];
        ASSERT_EQ(text.size(), 3u) << text;
        EXPECT_DOUBLE_EQ(rates::Value(i), Tenths(text)) << text;
        EXPECT_EQ(rates::IndexOfText(text), i) << text;
        EXPECT_EQ(rates::IndexOfValue(Tenths(text)), i) << text;
        EXPECT_EQ(rates::Nearest(Tenths(text)), i) << text;
        if (i > 0) {
            EXPECT_GT(rates::Value(i - 1), rates::Value(i)) << "fastest first: " << text;
        }
    }
    EXPECT_EQ(std::string(rates::kTexts[rates::NormalIndex()]), "1.0");
    // Only the stored texts themselves, and only listed values.
    for (const char* text : {"1", "2.00", " 1.0", "1.0 ", "2,6", ""})
        EXPECT_EQ(rates::IndexOfText(text), -1) << text;
    for (double value : {0.0, 0.9, 2.1, 2.5, 3.2, 4.5})
        EXPECT_EQ(rates::IndexOfValue(value), -1) << value;
}

TEST(RateList, StepsStopAtBothEnds) {
    const int last = rates::kCount - 1;
    EXPECT_EQ(rates::Faster(0), 0);
    EXPECT_EQ(rates::Slower(0), 1);
    EXPECT_EQ(rates::Slower(last), last);
    EXPECT_EQ(rates::Faster(last), last - 1);
}

TEST(RateList, NearestSnapsIntoTheListAndATieGoesToTheFaster) {
    EXPECT_EQ(rates::kTexts[rates::Nearest(2.27)], std::string("2.2"));
    EXPECT_EQ(rates::kTexts[rates::Nearest(9.5)], std::string("4.0"));
    EXPECT_EQ(rates::kTexts[rates::Nearest(0.4)], std::string("1.0"));
    EXPECT_EQ(rates::kTexts[rates::Nearest(-3.0)], std::string("1.0"));
    EXPECT_EQ(rates::kTexts[rates::Nearest(3.25)], std::string("3.5"));
    EXPECT_EQ(rates::kTexts[rates::Nearest(3.75)], std::string("4.0"));
    EXPECT_EQ(rates::kTexts[rates::Nearest(2.5)], std::string("2.6"));
}

} // namespace

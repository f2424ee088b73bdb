#include <cstdint>

#include <gtest/gtest.h>

#include "app/profiles/list_texts.h"

namespace clipwright {
namespace {

TEST(DurationTextTest, HoursMinutesSecondsWithTheFractionDropped) {
    EXPECT_EQ(DurationText(0), "00:00:00");
    EXPECT_EQ(DurationText(999999), "00:00:00");
    EXPECT_EQ(DurationText(187000000), "00:03:07");
    EXPECT_EQ(DurationText(245000000), "00:04:05");
    EXPECT_EQ(DurationText(3725900000), "01:02:05");
    EXPECT_EQ(DurationText(int64_t{100} * 3600 * 1000000 + 1000000), "100:00:01");
}

TEST(DurationTextTest, NegativeMeansUnknown) {
    EXPECT_EQ(DurationText(INT64_MIN), "Unknown");
    EXPECT_EQ(DurationText(-1000000), "Unknown");
    // Less than a second below zero still truncates to zero seconds.
    EXPECT_EQ(DurationText(-999999), "00:00:00");
}

TEST(FrameRateTextTest, TwoDecimalsInShortestForm) {
    EXPECT_EQ(FrameRateText(25, 1), "25");
    EXPECT_EQ(FrameRateText(30000, 1001), "29.97");
    EXPECT_EQ(FrameRateText(24000, 1001), "23.98");
    EXPECT_EQ(FrameRateText(2997, 125), "23.98");
    EXPECT_EQ(FrameRateText(15, 2), "7.5");
    EXPECT_EQ(FrameRateText(60000, 1001), "59.94");
    EXPECT_EQ(FrameRateText(0, 1), "0");
}

TEST(FrameRateTextTest, HalfHundredthsGoToTheEvenNeighbour) {
    EXPECT_EQ(FrameRateText(1, 8), "0.12"); // 12.5 hundredths
    EXPECT_EQ(FrameRateText(3, 8), "0.38"); // 37.5 hundredths
}

TEST(FrameRateTextTest, ZeroDenominatorHasNoText) {
    EXPECT_FALSE(FrameRateText(25, 0).has_value());
}

TEST(VideoSizeTextTest, WidthXHeight) {
    EXPECT_EQ(VideoSizeText(640, 480), "640x480");
}

} // namespace
} // namespace clipwright

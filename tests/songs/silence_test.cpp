// The silence rule that ends a song whose output stopped changing.
#include "songs/silence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Songs as stereo frames: levels per frame (both channels the same unless
// the case says otherwise) and where the song is cut with a limit of 4.
struct SilenceCase {
    const char* Name;
    std::vector<int16_t> Levels;
    std::vector<size_t> Chunks; // how the frames arrive
    uint64_t Limit;
    uint64_t Kept; // frames the song keeps; all of them when it never ends
    bool Ends;
};

class Silence : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(Silence, EndsAfterTheUnchangedStretchReachesTheLimit) {
    const SilenceCase& c = GetParam();
    std::vector<int16_t> values;
    for (const int16_t level : c.Levels) values.insert(values.end(), {level, level});
    SilenceWatch watch(c.Limit);
    uint64_t kept = 0, at = 0;
    for (const size_t chunk : c.Chunks) {
        kept += watch.Watch(values.data() + 2 * at, chunk);
        at += chunk;
    }
    EXPECT_EQ(kept, c.Kept);
    EXPECT_EQ(watch.Ended(), c.Ends);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, Silence,
    ::testing::Values(
        SilenceCase{"SilentFromTheStart", {0, 0, 0, 0, 0, 0}, {6}, 4, 4, true},
        SilenceCase{"ConstantLevelCountsToo", {1, 5, 5, 5, 5, 7}, {6}, 4, 5, true},
        SilenceCase{"StretchAcrossBuffers", {1, 2, 2, 2, 2, 2}, {2, 1, 3}, 4, 5, true},
        SilenceCase{"StretchStartsLateInABuffer", {1, 2, 2, 3, 3, 3, 3, 3}, {3, 3, 2}, 4, 7, true},
        SilenceCase{"ShortPausesAreNoEnd", {0, 0, 0, 1, 1, 1, 0, 0, 0}, {4, 5}, 4, 9, false},
        SilenceCase{"Off", {0, 0, 0, 0, 0, 0, 0, 0}, {8}, 0, 8, false},
        SilenceCase{"NothingAfterTheEnd", {0, 0, 0, 0, 3, 4}, {4, 2}, 4, 4, true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Silence, OneChannelMovingIsNotSilence) {
    // Left still, right changing: a song playing on one side only.
    const std::vector<int16_t> values = {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6};
    SilenceWatch watch(SilenceFrames(2.0 / 44100));
    EXPECT_EQ(watch.Watch(values.data(), 6), 6u);
    EXPECT_FALSE(watch.Ended());
    EXPECT_EQ(SilenceFrames(5), 220500u);
    EXPECT_EQ(SilenceFrames(0), 0u);
}

} // namespace

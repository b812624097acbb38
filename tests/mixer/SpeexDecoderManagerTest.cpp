#include "SpeexDecoderManagerUnit.h"
#include "SpeexTestSignal.h"
#include "speex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace qrv;
using qrv::test::EncodeToneFrames;

namespace {

std::vector<uint8_t> Decode(TSpeexDecoderManager& manager, int32_t channel, const std::vector<uint8_t>& frame)
{
    uint32_t bytes = 0;
    const uint8_t* pcm = nullptr;
    if (!manager.DecodeFrame(channel, frame.data(), static_cast<int32_t>(frame.size()), bytes, pcm))
        return {};
    return std::vector<uint8_t>(pcm, pcm + bytes);
}

double Rms(const std::vector<uint8_t>& pcm)
{
    double sum = 0;
    const size_t n = pcm.size() / 2;
    for (size_t i = 0; i < n; ++i) {
        int16_t s;
        std::memcpy(&s, &pcm[2 * i], 2);
        sum += static_cast<double>(s) * s;
    }
    return n == 0 ? 0 : std::sqrt(sum / static_cast<double>(n));
}

} // namespace

TEST(LoadSpeexLibraries, TheLinkedLibraryDescribesAllThreeModes)
{
    std::string error = "untouched";
    EXPECT_TRUE(LoadSpeexLibraries(&error));
    EXPECT_EQ(error, "untouched");
    EXPECT_TRUE(SpeexLibrariesLoaded());
}

TEST(SpeexDecoderManager, DecodesEachModeIntoTwentyMillisecondsOfSound)
{
    for (uint8_t mode : {0, 1, 2}) {
        SCOPED_TRACE(int(mode));
        TSpeexDecoderManager manager;
        manager.SetSpeexMode(mode);
        const auto frames = EncodeToneFrames(mode, 10);
        std::vector<uint8_t> pcm;
        for (const auto& frame : frames)
            pcm = Decode(manager, 3, frame);
        EXPECT_EQ(pcm.size(), 320u << mode);
        EXPECT_EQ(manager.Decoder(3)->SamplingRate(), 8000 << mode);
        EXPECT_GT(Rms(pcm), 1000.0) << "the tone should come back, not silence";
    }
}

// A channel's decoder keeps the mode it was created in; only channels without a decoder
// take up the new mode.
TEST(SpeexDecoderManager, ModeSwitchReachesOnlyChannelsWithoutDecoder)
{
    struct Case {
        const char* name;
        bool framesBeforeSwitch;
        size_t expectedBytes;
    } cases[] = {
        {"channel 7 decoded before the switch stays wideband", true, 640},
        {"channel 7 new after the switch is ultra-wideband", false, 1280},
    };
    const auto wideband = EncodeToneFrames(1, 1);
    const auto ultra = EncodeToneFrames(2, 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSpeexDecoderManager manager;
        manager.SetSpeexMode(1); // codec 3
        if (c.framesBeforeSwitch) {
            ASSERT_EQ(Decode(manager, 7, wideband[0]).size(), 640u);
        }
        manager.SetSpeexMode(2); // codec 4
        EXPECT_EQ(Decode(manager, 7, ultra[0]).size(), c.expectedBytes);
    }
}

// Interleaving two channels must give each the sound it gives alone: a shared decoder
// state would smear one talker into the other.
TEST(SpeexDecoderManager, ChannelsOneAndTwoFiftyFiveKeepSeparateStates)
{
    const auto low = EncodeToneFrames(1, 12, 300.0);
    const auto high = EncodeToneFrames(1, 12, 2500.0);

    TSpeexDecoderManager alone;
    alone.SetSpeexMode(1);
    std::vector<std::vector<uint8_t>> lowAlone, highAlone;
    for (size_t i = 0; i < low.size(); ++i)
        lowAlone.push_back(Decode(alone, 1, low[i]));
    TSpeexDecoderManager alone2;
    alone2.SetSpeexMode(1);
    for (size_t i = 0; i < high.size(); ++i)
        highAlone.push_back(Decode(alone2, 255, high[i]));

    TSpeexDecoderManager mixed;
    mixed.SetSpeexMode(1);
    for (size_t i = 0; i < low.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Decode(mixed, 1, low[i]), lowAlone[i]);
        EXPECT_EQ(Decode(mixed, 255, high[i]), highAlone[i]);
    }
}

TEST(SpeexDecoderManager, RefusesChannelsAndLengthsOutsideTheirRange)
{
    const auto frame = EncodeToneFrames(1, 1)[0];
    std::vector<uint8_t> long256(256, 0x55);
    struct Case {
        int32_t channel;
        const uint8_t* data;
        int32_t length;
    } cases[] = {
        {0, frame.data(), static_cast<int32_t>(frame.size())},
        {-1, frame.data(), static_cast<int32_t>(frame.size())},
        {256, frame.data(), static_cast<int32_t>(frame.size())},
        {5, frame.data(), 0},
        {5, frame.data(), -4},
        {5, nullptr, 10},
        {5, long256.data(), 256},
    };
    TSpeexDecoderManager manager;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " length " << c.length);
        uint32_t bytes = 77;
        const uint8_t* pcm = nullptr;
        EXPECT_FALSE(manager.DecodeFrame(c.channel, c.data, c.length, bytes, pcm));
        EXPECT_EQ(pcm, nullptr);
    }
    EXPECT_FALSE(manager.Decoder(5)->DecoderReady()) << "a refused frame must not create the decoder";
}

TEST(SpeexDecoderManager, TwoFramesInOneYieldTheFirstOnly)
{
    const auto frames = EncodeToneFrames(1, 2, 1000.0);
    std::vector<uint8_t> both = frames[0];
    both.insert(both.end(), frames[1].begin(), frames[1].end());
    ASSERT_LE(both.size(), 255u);

    TSpeexDecoderManager first, joined;
    first.SetSpeexMode(1);
    joined.SetSpeexMode(1);
    EXPECT_EQ(Decode(joined, 9, both), Decode(first, 9, frames[0]));
}

TEST(SpeexDecoderManager, CorruptFramesStillAnswerAFrameOfSound)
{
    std::mt19937 random(7);
    TSpeexDecoderManager manager;
    manager.SetSpeexMode(2);
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> junk(1 + random() % 255);
        for (auto& b : junk)
            b = static_cast<uint8_t>(random());
        EXPECT_EQ(Decode(manager, 1 + i % 255, junk).size(), 1280u);
    }
}

TEST(SpeexDecoderManager, UnknownModeCreatesNoDecoder)
{
    TSpeexDecoderManager manager;
    manager.SetSpeexMode(3);
    const auto frame = EncodeToneFrames(1, 1)[0];
    EXPECT_TRUE(Decode(manager, 4, frame).empty());
    manager.SetSpeexMode(1);
    EXPECT_EQ(Decode(manager, 4, frame).size(), 640u);
}

#include "H264Encoder.h"
#include "VideoFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace qrv::test {
namespace {

// The NAL unit types of an Annex B access unit, in order.
std::vector<int> NalTypes(const std::vector<uint8_t>& au)
{
    std::vector<int> types;
    for (size_t i = 0; i + 3 < au.size(); ++i) {
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            types.push_back(au[i + 3] & 0x1F);
            i += 3;
        }
    }
    return types;
}

constexpr int Sps = 7, Pps = 8, Idr = 5, NonIdrSlice = 1;

// Every gop-th frame is a key frame that opens with a start code, SPS and PPS and holds an
// IDR slice; the others hold only non-IDR slices. One access unit per picture, no delay.
TEST(H264Encoder, KeyFramesAreSelfContainedIdrAccessUnits)
{
    for (int gop : {1, 3, 5}) {
        SCOPED_TRACE("gop " + std::to_string(gop));
        const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 11, gop);
        for (size_t i = 0; i < stream.Frames.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const auto& frame = stream.Frames[i];
            ASSERT_GE(frame.Payload.size(), 4u);
            const bool key = i % size_t(gop) == 0;
            EXPECT_EQ(frame.KeyFrame, key);
            const std::vector<int> types = NalTypes(frame.Payload);
            ASSERT_FALSE(types.empty());
            EXPECT_TRUE(frame.Payload[0] == 0 && frame.Payload[1] == 0 &&
                        (frame.Payload[2] == 1 || (frame.Payload[2] == 0 && frame.Payload[3] == 1)));
            if (key) {
                ASSERT_GE(types.size(), 3u);
                EXPECT_EQ(types[0], Sps);
                EXPECT_EQ(types[1], Pps);
                EXPECT_NE(std::find(types.begin(), types.end(), Idr), types.end());
                EXPECT_EQ(std::find(types.begin(), types.end(), NonIdrSlice), types.end());
            } else {
                EXPECT_EQ(std::find(types.begin(), types.end(), Idr), types.end());
                EXPECT_NE(std::find(types.begin(), types.end(), NonIdrSlice), types.end());
            }
        }
    }
}

TEST(H264Encoder, SamePicturesGiveTheSameBytes)
{
    const EncodedStream a = EncodeSplitStream(64, 48, Red, Blue, 5, 3);
    const EncodedStream b = EncodeSplitStream(64, 48, Red, Blue, 5, 3);
    for (size_t i = 0; i < a.Frames.size(); ++i)
        EXPECT_EQ(a.Frames[i].Payload, b.Frames[i].Payload) << "frame " << i;
}

TEST(H264Encoder, RefusesSizesItCannotEncode)
{
    struct Args {
        int W, H, Fps, Gop;
    };
    for (const Args& a : {Args{63, 48, 25, 3}, Args{64, 47, 25, 3}, Args{0, 48, 25, 3}, Args{64, -2, 25, 3},
                          Args{64, 48, 0, 3}, Args{64, 48, 25, 0}}) {
        SCOPED_TRACE(std::to_string(a.W) + "x" + std::to_string(a.H) + " fps " + std::to_string(a.Fps) + " gop " +
                     std::to_string(a.Gop));
        EXPECT_EQ(tools::H264Encoder::Create(a.W, a.H, a.Fps, a.Gop), nullptr);
    }
    // A picture of another size than the encoder's gives no payload.
    auto encoder = tools::H264Encoder::Create(64, 48, 25, 3);
    ASSERT_NE(encoder, nullptr);
    EXPECT_TRUE(encoder->Encode(SplitPicture(32, 24, Red, Blue)).Payload.empty());
}

} // namespace
} // namespace qrv::test

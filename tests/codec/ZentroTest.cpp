#include "Zentro.h"
#include "VideoFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace qrv::test {
namespace {

constexpr uint8_t Canary = 0xCD;
constexpr size_t GuardBytes = 64;

// An output buffer of exactly width x height x 3 bytes followed by guard bytes that the
// library must never touch.
struct Output {
    Output(int w, int h) : Width(w), Height(h), Bytes(size_t(w) * h * 3 + GuardBytes, Canary) {}
    uint8_t* Data() { return Bytes.data(); }
    size_t PictureBytes() const { return size_t(Width) * Height * 3; }
    bool GuardIntact() const
    {
        return std::all_of(Bytes.begin() + long(PictureBytes()), Bytes.end(), [](uint8_t b) { return b == Canary; });
    }
    bool Untouched() const { return std::all_of(Bytes.begin(), Bytes.end(), [](uint8_t b) { return b == Canary; }); }
    void Reset() { std::fill(Bytes.begin(), Bytes.end(), Canary); }

    int Width, Height;
    std::vector<uint8_t> Bytes;
};

int32_t Decode(int32_t channel, const std::vector<uint8_t>& payload, Output& out)
{
    return ZTDecoder(channel, payload.data(), int32_t(payload.size()), out.Data());
}

// Opens a channel for the test and closes it afterwards, so that tests do not leak state
// into each other through the library's channel table.
class OpenChannel {
public:
    OpenChannel(int32_t channel, int32_t w, int32_t h) : m_channel(channel)
    {
        EXPECT_EQ(DecChannelCreation(channel, w, h, 1, 1), 1);
    }
    ~OpenChannel() { DecChannelEnd(m_channel); }

private:
    int32_t m_channel;
};

TEST(Zentro, DecodesEveryFrameBottomRowFirstAndCloseToThePicture)
{
    const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 6, 3);
    OpenChannel open(10, 64, 48);
    Output out(64, 48);
    for (size_t i = 0; i < stream.Frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        out.Reset();
        ASSERT_GT(Decode(10, stream.Frames[i].Payload, out), 0);
        EXPECT_TRUE(Near(RowAverage(out.Data(), 64, 0), Blue)) << "the first row written is the bottom row";
        EXPECT_TRUE(Near(RowAverage(out.Data(), 64, 47), Red));
        EXPECT_LT(MeanAbsError(stream.Pictures[i], out.Data(), /*topFirst=*/false), 6.0);
        EXPECT_TRUE(out.GuardIntact());
    }
}

TEST(Zentro, ChannelsKeepTheirOwnStreams)
{
    const EncodedStream a = EncodeSplitStream(64, 48, Red, Blue, 6, 3);
    const EncodedStream b = EncodeSplitStream(96, 64, Green, White, 6, 2);
    OpenChannel openA(1, 64, 48);
    OpenChannel openB(2, 96, 64);
    Output outA(64, 48), outB(96, 64);
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        ASSERT_GT(Decode(1, a.Frames[i].Payload, outA), 0);
        ASSERT_GT(Decode(2, b.Frames[i].Payload, outB), 0);
        EXPECT_LT(MeanAbsError(a.Pictures[i], outA.Data(), false), 6.0);
        EXPECT_LT(MeanAbsError(b.Pictures[i], outB.Data(), false), 6.0);
        EXPECT_TRUE(outA.GuardIntact());
        EXPECT_TRUE(outB.GuardIntact());
    }
    // Closing one channel leaves the other decoding.
    EXPECT_EQ(DecChannelEnd(1), 1);
    const EncodedStream more = EncodeSplitStream(96, 64, Green, White, 8, 2);
    ASSERT_GT(Decode(2, more.Frames[6].Payload, outB), 0);
    ASSERT_GT(Decode(2, more.Frames[7].Payload, outB), 0);
    EXPECT_LT(MeanAbsError(more.Pictures[7], outB.Data(), false), 6.0);
}

TEST(Zentro, FrameBeforeTheFirstKeyFrameDoesNoHarm)
{
    const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 4, 3);
    ASSERT_FALSE(stream.Frames[1].KeyFrame);
    OpenChannel open(20, 64, 48);
    Output out(64, 48);
    if (Decode(20, stream.Frames[1].Payload, out) <= 0) {
        EXPECT_TRUE(out.Untouched()) << "no picture means the output is left alone";
    }
    EXPECT_TRUE(out.GuardIntact());

    out.Reset();
    ASSERT_GT(Decode(20, stream.Frames[3].Payload, out), 0);
    EXPECT_LT(MeanAbsError(stream.Pictures[3], out.Data(), false), 6.0);
}

struct DamagedCase {
    std::string Name;
    std::function<std::vector<uint8_t>(const EncodedStream& stream)> Make;
};

void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.Name; }

std::vector<uint8_t> PseudoRandom(size_t n)
{
    std::vector<uint8_t> bytes(n);
    uint32_t x = 2463534242u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return bytes;
}

// The first `percent` per cent of a frame's payload, as a recording cut off inside it holds.
std::vector<uint8_t> CutShort(const tools::EncodedFrame& frame, size_t percent)
{
    return std::vector<uint8_t>(frame.Payload.begin(), frame.Payload.begin() + long(frame.Payload.size() * percent / 100));
}

class ZentroDamaged : public testing::TestWithParam<DamagedCase> {};

// A damaged payload yields no picture and leaves the output alone, whether it comes first
// or in the middle of a stream; the channel still decodes the next key frame.
TEST_P(ZentroDamaged, AnswersZeroAndTheChannelRecovers)
{
    const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 4, 3);
    const std::vector<uint8_t> damaged = GetParam().Make(stream);
    for (bool afterKeyFrame : {false, true}) {
        SCOPED_TRACE(afterKeyFrame ? "after a key frame" : "as the first frame");
        OpenChannel open(30, 64, 48);
        Output out(64, 48);
        if (afterKeyFrame) {
            ASSERT_GT(Decode(30, stream.Frames[0].Payload, out), 0);
        }
        out.Reset();
        EXPECT_EQ(Decode(30, damaged, out), 0);
        EXPECT_TRUE(out.Untouched());

        ASSERT_GT(Decode(30, stream.Frames[3].Payload, out), 0);
        EXPECT_LT(MeanAbsError(stream.Pictures[3], out.Data(), false), 6.0);
        EXPECT_TRUE(out.GuardIntact());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, ZentroDamaged,
    testing::Values(
        DamagedCase{"Garbage", [](const EncodedStream&) { return PseudoRandom(1500); }},
        DamagedCase{"Zeros", [](const EncodedStream&) { return std::vector<uint8_t>(300, 0); }},
        DamagedCase{"LoneStartCode", [](const EncodedStream&) { return std::vector<uint8_t>{0, 0, 0, 1}; }},
        DamagedCase{"OneByte", [](const EncodedStream&) { return std::vector<uint8_t>{0x65}; }},
        DamagedCase{"GarbageAfterStartCode",
                    [](const EncodedStream&) {
                        std::vector<uint8_t> bytes{0, 0, 0, 1};
                        const auto tail = PseudoRandom(800);
                        bytes.insert(bytes.end(), tail.begin(), tail.end());
                        return bytes;
                    }},
        DamagedCase{"KeyFrameCutInHalf", [](const EncodedStream& s) { return CutShort(s.Frames[0], 50); }},
        DamagedCase{"NextFrameCutInHalf", [](const EncodedStream& s) { return CutShort(s.Frames[1], 50); }}),
    [](const testing::TestParamInfo<DamagedCase>& param) { return param.param.Name; });

// Wherever a key frame is cut off, the channel either yields no picture or, when only
// padding was lost, the right one: never a half-decoded picture.
TEST(Zentro, KeyFrameCutAnywhereYieldsNoDamagedPicture)
{
    for (auto [w, h] : {std::pair{64, 48}, std::pair{160, 120}}) {
        const EncodedStream stream = EncodeSplitStream(w, h, Red, Blue, 1, 1);
        const std::vector<uint8_t>& key = stream.Frames[0].Payload;
        Output out(w, h);
        for (size_t cut = 1; cut < key.size(); ++cut) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " cut to " + std::to_string(cut) + " of " +
                         std::to_string(key.size()) + " bytes");
            ASSERT_EQ(DecChannelCreation(31, w, h, 1, 1), 1);
            out.Reset();
            if (ZTDecoder(31, key.data(), int32_t(cut), out.Data()) > 0) {
                ASSERT_LT(MeanAbsError(stream.Pictures[0], out.Data(), false), 6.0);
            } else {
                ASSERT_TRUE(out.Untouched());
            }
            ASSERT_TRUE(out.GuardIntact());
        }
        DecChannelEnd(31);
    }
}

// A stream of another size than the channel's is scaled to the channel's size.
TEST(Zentro, ScalesAStreamToTheChannelSize)
{
    for (auto [w, h] : {std::pair{128, 96}, std::pair{32, 24}, std::pair{48, 64}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const EncodedStream stream = EncodeSplitStream(w, h, Red, Blue, 2, 2);
        OpenChannel open(40, 64, 48);
        Output out(64, 48);
        for (const auto& frame : stream.Frames) {
            ASSERT_GT(Decode(40, frame.Payload, out), 0);
            EXPECT_TRUE(Near(RowAverage(out.Data(), 64, 0), Blue));
            EXPECT_TRUE(Near(RowAverage(out.Data(), 64, 47), Red));
            EXPECT_TRUE(out.GuardIntact());
        }
    }
}

TEST(Zentro, RefusesCallsOutsideAnOpenChannel)
{
    const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 1, 1);
    const std::vector<uint8_t>& key = stream.Frames[0].Payload;
    OpenChannel open(50, 64, 48);
    Output out(64, 48);

    struct Call {
        const char* Name;
        int32_t Channel;
        const uint8_t* Data;
        int32_t Size;
        uint8_t* Output;
    };
    const Call calls[] = {
        {"channel -1", -1, key.data(), int32_t(key.size()), out.Data()},
        {"channel 256", 256, key.data(), int32_t(key.size()), out.Data()},
        {"channel not open", 51, key.data(), int32_t(key.size()), out.Data()},
        {"no data", 50, nullptr, int32_t(key.size()), out.Data()},
        {"size 0", 50, key.data(), 0, out.Data()},
        {"negative size", 50, key.data(), -5, out.Data()},
        {"no output", 50, key.data(), int32_t(key.size()), nullptr},
    };
    for (const Call& c : calls) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ZTDecoder(c.Channel, c.Data, c.Size, c.Output), 0);
        EXPECT_TRUE(out.Untouched());
    }
    // The channel itself is unharmed.
    EXPECT_GT(Decode(50, key, out), 0);
}

TEST(Zentro, RefusesToOpenImpossibleChannels)
{
    struct Creation {
        int32_t Channel, Width, Height;
    };
    const Creation refused[] = {
        {-1, 64, 48}, {256, 64, 48}, {60, 0, 48}, {60, 64, 0}, {60, -64, 48}, {60, 16385, 48}, {60, 64, 16385},
    };
    const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 1, 1);
    Output out(64, 48);
    for (const Creation& c : refused) {
        SCOPED_TRACE(std::to_string(c.Channel) + ": " + std::to_string(c.Width) + "x" + std::to_string(c.Height));
        EXPECT_EQ(DecChannelCreation(c.Channel, c.Width, c.Height, 1, 1), 0);
        EXPECT_EQ(Decode(c.Channel, stream.Frames[0].Payload, out), 0);
        EXPECT_TRUE(out.Untouched());
    }
}

TEST(Zentro, OpeningAnOpenChannelStartsItAfresh)
{
    const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 4, 3);
    ASSERT_EQ(DecChannelCreation(70, 64, 48, 1, 1), 1);
    Output big(64, 48);
    ASSERT_GT(Decode(70, stream.Frames[0].Payload, big), 0);

    // Reopened at a smaller size: the old decoding state is gone, so a frame that depends
    // on the earlier frames gives nothing, and pictures come at the new size.
    ASSERT_EQ(DecChannelCreation(70, 32, 24, 1, 1), 1);
    Output small(32, 24);
    EXPECT_EQ(Decode(70, stream.Frames[1].Payload, small), 0);
    ASSERT_GT(Decode(70, stream.Frames[3].Payload, small), 0);
    EXPECT_TRUE(Near(RowAverage(small.Data(), 32, 0), Blue));
    EXPECT_TRUE(small.GuardIntact());

    EXPECT_EQ(DecChannelEnd(70), 1);
    EXPECT_EQ(DecChannelEnd(70), 0);
    EXPECT_EQ(Decode(70, stream.Frames[3].Payload, small), 0);
    EXPECT_EQ(DecChannelEnd(-1), 0);
    EXPECT_EQ(DecChannelEnd(256), 0);
}

} // namespace
} // namespace qrv::test

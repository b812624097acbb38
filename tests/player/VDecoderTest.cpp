#include "VDecoder.h"
#include "VideoFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrv::test {
namespace {

// A video codec library that records its calls and answers what the test tells it to.
struct FakeLibrary {
    struct Creation {
        int32_t Channel, Width, Height, Mode, Flag;
    };
    static inline std::vector<Creation> Creations;
    static inline std::vector<int32_t> DecodeChannels;
    static inline std::vector<const uint8_t*> DecodeOutputs;
    static inline std::vector<int32_t> Ends;
    static inline int32_t DecodeResult = 1;
    static inline std::function<void(uint8_t* output)> Fill;
    static inline bool ThrowOnCreate = false, ThrowOnDecode = false, ThrowOnEnd = false;

    static void Reset()
    {
        Creations.clear();
        DecodeChannels.clear();
        DecodeOutputs.clear();
        Ends.clear();
        DecodeResult = 1;
        Fill = nullptr;
        ThrowOnCreate = ThrowOnDecode = ThrowOnEnd = false;
    }

    static int32_t Create(int32_t channel, int32_t width, int32_t height, int32_t mode, int32_t flag)
    {
        Creations.push_back({channel, width, height, mode, flag});
        if (ThrowOnCreate)
            throw std::runtime_error("creation fault");
        return 1;
    }
    static int32_t Decode(int32_t channel, const uint8_t*, int32_t, uint8_t* output)
    {
        DecodeChannels.push_back(channel);
        DecodeOutputs.push_back(output);
        if (ThrowOnDecode)
            throw std::runtime_error("decoding fault");
        if (Fill)
            Fill(output);
        return DecodeResult;
    }
    static int32_t End(int32_t channel)
    {
        Ends.push_back(channel);
        if (ThrowOnEnd)
            throw std::runtime_error("closing fault");
        return 1;
    }

    static inline const TVideoCodecLibrary Table{&Create, &Decode, &End};
};

const uint8_t Payload[16] = {0, 0, 0, 1, 0x65};
constexpr uint8_t Key = 1, NonKey = 0;

class VDecoderTest : public testing::Test {
protected:
    void SetUp() override
    {
        FakeLibrary::Reset();
        ASSERT_EQ(TVDecoder::ChannelsInUse(), 0) << "an earlier test left decoders alive";
    }
    void TearDown() override { EXPECT_EQ(TVDecoder::ChannelsInUse(), 0); }

    static std::unique_ptr<TVDecoder> Make(int32_t w = 8, int32_t h = 6)
    {
        return std::make_unique<TVDecoder>(w, 1, h, FakeLibrary::Table);
    }
};

TEST_F(VDecoderTest, TakesTheSmallestFreeChannelNumberAndGivesItBack)
{
    auto first = Make(8, 6);
    auto second = Make(8, 6);
    auto third = Make(8, 6);
    EXPECT_EQ(first->ChannelNumber(), 0);
    EXPECT_EQ(second->ChannelNumber(), 1);
    EXPECT_EQ(third->ChannelNumber(), 2);
    EXPECT_EQ(TVDecoder::ChannelsInUse(), 3);
    ASSERT_EQ(FakeLibrary::Creations.size(), 3u);
    const auto& c = FakeLibrary::Creations[0];
    EXPECT_EQ(c.Channel, 0);
    EXPECT_EQ(c.Width, 8);
    EXPECT_EQ(c.Height, 6);
    EXPECT_EQ(c.Mode, 1);
    EXPECT_EQ(c.Flag, 1);

    second.reset();
    EXPECT_EQ(FakeLibrary::Ends, std::vector<int32_t>{1});
    EXPECT_EQ(Make()->ChannelNumber(), 1);
    first.reset();
    auto again = Make();
    EXPECT_EQ(again->ChannelNumber(), 0);
    EXPECT_EQ(TVDecoder::ChannelsInUse(), 2);
}

TEST_F(VDecoderTest, WithAllNumbersTakenGetsMinusOneAndOpensNothing)
{
    std::vector<std::unique_ptr<TVDecoder>> alive;
    for (int i = 0; i < 256; ++i) {
        alive.push_back(Make(2, 2));
        ASSERT_EQ(alive.back()->ChannelNumber(), i);
    }
    {
        auto extra = Make(2, 2);
        EXPECT_EQ(extra->ChannelNumber(), -1);
        EXPECT_EQ(FakeLibrary::Creations.size(), 256u) << "no channel is opened for -1";
        EXPECT_EQ(TVDecoder::ChannelsInUse(), 256);
        // Its frames still go to the library, on channel -1.
        extra->Decode(Payload, sizeof Payload, Key);
        EXPECT_EQ(FakeLibrary::DecodeChannels, std::vector<int32_t>{-1});
    }
    EXPECT_TRUE(FakeLibrary::Ends.empty()) << "destroying the -1 decoder closes no channel";
    EXPECT_EQ(TVDecoder::ChannelsInUse(), 256);

    alive.erase(alive.begin() + 100);
    EXPECT_EQ(Make(2, 2)->ChannelNumber(), 100);
    alive.clear();
    EXPECT_EQ(TVDecoder::ChannelsInUse(), 0);
    EXPECT_EQ(Make(2, 2)->ChannelNumber(), 0);
}

TEST_F(VDecoderTest, FirstFrameThroughDecodeMustBeAKeyFrame)
{
    auto decoder = Make();
    for (uint8_t flag : {uint8_t{0}, uint8_t{2}, uint8_t{255}}) {
        EXPECT_EQ(decoder->Decode(Payload, sizeof Payload, flag), nullptr) << "flag " << int(flag);
        EXPECT_FALSE(decoder->Started());
    }
    EXPECT_TRUE(FakeLibrary::DecodeChannels.empty()) << "refused frames never reach the library";

    EXPECT_NE(decoder->Decode(Payload, sizeof Payload, Key), nullptr);
    EXPECT_TRUE(decoder->Started());
    EXPECT_NE(decoder->Decode(Payload, sizeof Payload, NonKey), nullptr);
    EXPECT_EQ(FakeLibrary::DecodeChannels.size(), 2u);
}

TEST_F(VDecoderTest, FeedNeitherStartsTheChannelNorChangesTheLastResult)
{
    auto decoder = Make();
    FakeLibrary::DecodeResult = 7;
    decoder->Feed(Payload, sizeof Payload);
    ASSERT_EQ(FakeLibrary::DecodeChannels, std::vector<int32_t>{0});
    EXPECT_FALSE(decoder->Started());
    EXPECT_EQ(decoder->LastResult(), 0);

    EXPECT_EQ(decoder->Decode(Payload, sizeof Payload, NonKey), nullptr);
    EXPECT_EQ(FakeLibrary::DecodeChannels.size(), 1u) << "the non-key frame was refused without a call";

    ASSERT_NE(decoder->Decode(Payload, sizeof Payload, Key), nullptr);
    FakeLibrary::DecodeResult = 0;
    decoder->Feed(Payload, sizeof Payload);
    EXPECT_EQ(decoder->LastResult(), 7);
    EXPECT_TRUE(decoder->Started());
    // Feed decodes into its own buffer, never into the one Decode's pictures come from.
    ASSERT_EQ(FakeLibrary::DecodeOutputs.size(), 3u);
    EXPECT_NE(FakeLibrary::DecodeOutputs[2], FakeLibrary::DecodeOutputs[1]);
}

TEST_F(VDecoderTest, NoPictureFromTheLibraryKeepsTheChannelStarted)
{
    auto decoder = Make();
    ASSERT_NE(decoder->Decode(Payload, sizeof Payload, Key), nullptr);
    for (int32_t result : {0, -1}) {
        FakeLibrary::DecodeResult = result;
        EXPECT_EQ(decoder->Decode(Payload, sizeof Payload, NonKey), nullptr);
        EXPECT_EQ(decoder->LastResult(), result);
        EXPECT_TRUE(decoder->Started());
    }
    FakeLibrary::DecodeResult = 3;
    EXPECT_NE(decoder->Decode(Payload, sizeof Payload, NonKey), nullptr);
    EXPECT_EQ(decoder->LastResult(), 3);
    EXPECT_EQ(FakeLibrary::DecodeChannels.size(), 4u) << "every frame after the start reaches the library";
}

TEST_F(VDecoderTest, TheLibrarysFirstRowBecomesTheBitmapsBottomRow)
{
    const int32_t w = 5, h = 4;
    auto decoder = Make(w, h);
    FakeLibrary::Fill = [](uint8_t* out) {
        for (int k = 0; k < h; ++k)
            for (int i = 0; i < w * 3; ++i)
                out[k * w * 3 + i] = uint8_t(k * 50 + i);
    };
    auto bitmap = decoder->Decode(Payload, sizeof Payload, Key);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->Width(), w);
    ASSERT_EQ(bitmap->Height(), h);
    for (int k = 0; k < h; ++k)
        for (int i = 0; i < w * 3; ++i)
            ASSERT_EQ(bitmap->Row(h - 1 - k)[i], uint8_t(k * 50 + i)) << "output row " << k << " byte " << i;
}

TEST_F(VDecoderTest, FaultsInsideTheLibraryAreContained)
{
    FakeLibrary::ThrowOnCreate = true;
    auto decoder = Make();
    EXPECT_EQ(decoder->ChannelNumber(), 0);

    ASSERT_NE(decoder->Decode(Payload, sizeof Payload, Key), nullptr);
    FakeLibrary::ThrowOnDecode = true;
    std::unique_ptr<TBitmap24> bitmap;
    EXPECT_NO_THROW(bitmap = decoder->Decode(Payload, sizeof Payload, NonKey));
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_TRUE(decoder->Started());
    EXPECT_NO_THROW(decoder->Feed(Payload, sizeof Payload));

    FakeLibrary::ThrowOnDecode = false;
    EXPECT_NE(decoder->Decode(Payload, sizeof Payload, NonKey), nullptr) << "the channel stays usable";

    FakeLibrary::ThrowOnEnd = true;
    EXPECT_NO_THROW(decoder.reset());
    EXPECT_EQ(FakeLibrary::Ends, std::vector<int32_t>{0});
    // TearDown checks that the number went back to the pool all the same.
}

// Sizes come from file fields; a size no picture can have allocates nothing and opens
// no channel.
TEST_F(VDecoderTest, RefusedSizesOpenNoChannelAndDecodeNothing)
{
    struct Size {
        int32_t W, H;
    };
    for (const Size s : {Size{0, 48}, Size{64, 0}, Size{-1, 48}, Size{64, -48}, Size{8193, 48}, Size{64, 8193},
                         Size{65535, 65535}}) {
        SCOPED_TRACE(std::to_string(s.W) + "x" + std::to_string(s.H));
        auto decoder = Make(s.W, s.H);
        EXPECT_EQ(decoder->ChannelNumber(), -1);
        EXPECT_EQ(TVDecoder::ChannelsInUse(), 0);
        EXPECT_EQ(decoder->Decode(Payload, sizeof Payload, Key), nullptr);
        decoder->Feed(Payload, sizeof Payload);
        decoder.reset();
        EXPECT_TRUE(FakeLibrary::Creations.empty());
        EXPECT_TRUE(FakeLibrary::DecodeChannels.empty());
        EXPECT_TRUE(FakeLibrary::Ends.empty());
    }
    // The largest accepted side still works.
    auto tall = Make(2, TVDecoder::MaxPictureSide);
    EXPECT_EQ(tall->ChannelNumber(), 0);
    auto bitmap = tall->Decode(Payload, sizeof Payload, Key);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Height(), TVDecoder::MaxPictureSide);
}

// The decoder over the real library: pictures come out top row first and close to what
// was encoded, and frames fed in between bring the channel's state forward.
TEST(VDecoderWithZentro, DecodesRealFramesTopRowFirst)
{
    ASSERT_EQ(TVDecoder::ChannelsInUse(), 0);
    const EncodedStream stream = EncodeSplitStream(64, 48, Red, Blue, 8, 8);
    const EncodedStream other = EncodeSplitStream(32, 24, Green, White, 8, 4);
    TVDecoder decoder(64, 1, 48);
    TVDecoder second(32, 1, 24);
    ASSERT_EQ(decoder.ChannelNumber(), 0);
    ASSERT_EQ(second.ChannelNumber(), 1);

    auto frame = [](const EncodedStream& s, size_t i) {
        return std::pair{s.Frames[i].Payload.data(), int32_t(s.Frames[i].Payload.size())};
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        auto [data, size] = frame(stream, i);
        auto bitmap = decoder.Decode(data, size, stream.Frames[i].KeyFrame ? 1 : 0);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_TRUE(Near(RowAverage(bitmap->Bits(), 64, 0), Red)) << "the top row comes first";
        EXPECT_TRUE(Near(RowAverage(bitmap->Bits(), 64, 47), Blue));
        EXPECT_LT(MeanAbsError(stream.Pictures[i], bitmap->Bits(), /*topFirst=*/true), 6.0);

        auto [otherData, otherSize] = frame(other, i);
        auto otherBitmap = second.Decode(otherData, otherSize, other.Frames[i].KeyFrame ? 1 : 0);
        ASSERT_NE(otherBitmap, nullptr);
        EXPECT_LT(MeanAbsError(other.Pictures[i], otherBitmap->Bits(), true), 6.0);
    }
    for (size_t i = 3; i < 6; ++i) {
        auto [data, size] = frame(stream, i);
        decoder.Feed(data, size);
    }
    auto [data, size] = frame(stream, 6);
    auto bitmap = decoder.Decode(data, size, 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_LT(MeanAbsError(stream.Pictures[6], bitmap->Bits(), true), 6.0);
}

} // namespace
} // namespace qrv::test

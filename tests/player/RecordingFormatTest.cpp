#include "RecordingFixture.h"
#include "RecordingFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace qrv;
using qrv::test::RecordingFixture;

namespace {

std::vector<uint8_t> HeaderBytes(const RecordingHeader& header)
{
    std::vector<uint8_t> bytes(RecordingHeaderSize);
    SerializeRecordingHeader(header, std::span<uint8_t, RecordingHeaderSize>(bytes.data(), RecordingHeaderSize));
    return bytes;
}

} // namespace

TEST(RecordingHeader, FieldsSitAtTheirFileOffsets)
{
    RecordingHeader h = RecordingFixture::ValidHeader();
    h.HeaderVersion = 0x04030201;
    h.RecordingType = 2;
    h.Reserved12 = 0xA1A2A3A4;
    h.VideoWidth = 640;
    h.VideoHeight = 480;
    h.StartTime = 1.5;
    h.NonZero40 = 0x40;
    h.NonZero44 = 0x44;
    h.RecordedSize = 0x48;
    h.Reserved52 = 0x52;
    h.PasswordText.Assign("049050");
    h.Text107.Assign("x");
    h.SummaryText.Assign("YWJj");
    h.Reserved619 = 0x619;
    h.Reserved623 = 0x623;
    const auto bytes = HeaderBytes(h);
    ASSERT_EQ(bytes.size(), 631u);
    auto u32 = [&](size_t at) { return uint32_t(bytes[at]) | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24; };
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "QRV.");
    EXPECT_EQ(bytes[4], 0x01); // little-endian
    EXPECT_EQ(u32(4), 0x04030201u);
    EXPECT_EQ(u32(8), 2u);
    EXPECT_EQ(u32(12), 0xA1A2A3A4u);
    EXPECT_EQ(u32(16), 640u);
    EXPECT_EQ(u32(20), 480u);
    EXPECT_EQ(u32(28), 0x3FF80000u); // high word of the double 1.5
    EXPECT_EQ(u32(40), 0x40u);
    EXPECT_EQ(u32(44), 0x44u);
    EXPECT_EQ(u32(48), 0x48u);
    EXPECT_EQ(u32(52), 0x52u);
    EXPECT_EQ(bytes[56], 6);
    EXPECT_EQ(std::string(bytes.begin() + 57, bytes.begin() + 63), "049050");
    EXPECT_EQ(bytes[107], 1);
    EXPECT_EQ(bytes[108], 'x');
    EXPECT_EQ(bytes[363], 4);
    EXPECT_EQ(std::string(bytes.begin() + 364, bytes.begin() + 368), "YWJj");
    EXPECT_EQ(u32(619), 0x619u);
    EXPECT_EQ(u32(623), 0x623u);
    EXPECT_EQ(std::string(bytes.begin() + 627, bytes.end()), "ZaPm");
}

TEST(RecordingHeader, EveryByteSurvivesParseAndSerialize)
{
    // Random bytes stand for fields the player does not interpret and for characters
    // beyond a short string's length: all must be written back as they were read.
    std::mt19937 random(7);
    std::array<uint8_t, RecordingHeaderSize> in{};
    for (auto& b : in)
        b = static_cast<uint8_t>(random());
    const RecordingHeader h = ParseRecordingHeader(in);
    std::array<uint8_t, RecordingHeaderSize> out{};
    SerializeRecordingHeader(h, out);
    EXPECT_EQ(in, out);
}

TEST(RecordingHeader, ShortStringTextIsCappedAtCapacity)
{
    RecordingHeader h;
    h.PasswordText.Length = 60; // a corrupt length byte
    EXPECT_EQ(h.PasswordText.Text().size(), 50u);
    h.PasswordText.Assign(std::string(70, '1'));
    EXPECT_EQ(h.PasswordText.Length, 50);
}

TEST(RecordingHeader, ValidityChecksRunInOrder)
{
    struct Case {
        const char* name;
        void (*breakIt)(RecordingHeader&);
        THeaderFault fault;
    } cases[] = {
        {"valid", [](RecordingHeader&) {}, THeaderFault::None},
        {"header magic", [](RecordingHeader& h) { h.HeaderMagic[3] = '!'; }, THeaderFault::HeaderMagic},
        {"trailer magic", [](RecordingHeader& h) { h.TrailerMagic[0] = 'z'; }, THeaderFault::TrailerMagic},
        {"recorded size", [](RecordingHeader& h) { h.RecordedSize = 0; }, THeaderFault::RecordedSize},
        {"start 0", [](RecordingHeader& h) { h.StartTime = 0.0; }, THeaderFault::StartTime},
        {"start negative", [](RecordingHeader& h) { h.StartTime = -1.0; }, THeaderFault::StartTime},
        {"start NaN", [](RecordingHeader& h) { h.StartTime = std::numeric_limits<double>::quiet_NaN(); }, THeaderFault::StartTime},
        {"end 0", [](RecordingHeader& h) { h.EndTime = 0.0; }, THeaderFault::EndTime},
        {"end NaN", [](RecordingHeader& h) { h.EndTime = std::numeric_limits<double>::quiet_NaN(); }, THeaderFault::EndTime},
        {"field 40", [](RecordingHeader& h) { h.NonZero40 = 0; }, THeaderFault::Field40},
        {"field 44", [](RecordingHeader& h) { h.NonZero44 = 0; }, THeaderFault::Field44},
        // Several faults: the first in the order wins.
        {"44 and 40", [](RecordingHeader& h) { h.NonZero44 = 0; h.NonZero40 = 0; }, THeaderFault::Field40},
        {"end and size", [](RecordingHeader& h) { h.EndTime = 0; h.RecordedSize = 0; }, THeaderFault::RecordedSize},
        {"both magics", [](RecordingHeader& h) { h.TrailerMagic = {}; h.HeaderMagic = {}; }, THeaderFault::HeaderMagic},
        {"all zero", [](RecordingHeader& h) { h = RecordingHeader{}; }, THeaderFault::HeaderMagic},
        // The version is not part of the validity test.
        {"version 7", [](RecordingHeader& h) { h.HeaderVersion = 7; }, THeaderFault::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHeader h = RecordingFixture::ValidHeader();
        c.breakIt(h);
        EXPECT_EQ(FirstHeaderFault(h), c.fault) << HeaderFaultText(FirstHeaderFault(h));
        EXPECT_EQ(IsValidHeader(h), c.fault == THeaderFault::None);
    }
}

TEST(RecordHeader, RoundTripsAt21Bytes)
{
    RecordHeader r;
    r.SyncWord = RecordSyncWord;
    r.RecordType = 3;
    r.TimeStamp = 45000.123;
    r.TimeDelta = 0x01020304;
    r.BodySize = 0xFFFFFFF0;
    std::array<uint8_t, RecordHeaderSize> bytes{};
    SerializeRecordHeader(r, bytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RcHd");
    EXPECT_EQ(bytes[4], 3);
    EXPECT_EQ(bytes[13], 0x04);
    EXPECT_EQ(bytes[17], 0xF0);
    EXPECT_EQ(bytes[20], 0xFF);
    EXPECT_EQ(ParseRecordHeader(bytes), r);
}

TEST(FrameHeader, RoundTripsAt13BytesWithUnreadHalvesKept)
{
    FrameHeader f{0xDEADBEEF, 640, 0x1111, 480, 0x2222, 1};
    std::array<uint8_t, FrameHeaderSize> bytes{};
    SerializeFrameHeader(f, bytes);
    EXPECT_EQ(bytes[4], 0x80); // 640 = 0x0280
    EXPECT_EQ(bytes[5], 0x02);
    EXPECT_EQ(bytes[8], 0xE0); // 480 = 0x01E0
    EXPECT_EQ(bytes[12], 1);
    EXPECT_EQ(ParseFrameHeader(bytes), f);
}

TEST(RecordingFixture, ComposesRecordsAfterTheHeader)
{
    RecordingFixture f;
    EXPECT_EQ(f.Bytes().size(), 631u); // a header alone
    const size_t audio = f.AddAudio(10, 3, {0xF1, 0x02});
    const size_t video = f.AddVideo(20, 1, 320, 240, {9, 9, 9});
    f.AddGarbage(5);
    const auto bytes = f.Bytes();
    EXPECT_EQ(audio, 631u);
    EXPECT_EQ(video, 631u + 21 + 3);
    EXPECT_EQ(bytes.size(), video + 21 + 13 + 3 + 5);
    const auto record = ParseRecordHeader(std::span<const uint8_t, 21>(bytes.data() + video, 21));
    EXPECT_EQ(record.RecordType, 2);
    EXPECT_EQ(record.BodySize, 16u);
    EXPECT_EQ(record.TimeDelta, 20u);
    const auto frame = ParseFrameHeader(std::span<const uint8_t, 13>(bytes.data() + video + 21, 13));
    EXPECT_EQ(frame.FrameWidth, 320);
    EXPECT_EQ(frame.FrameFlag, 1);
    f.CutLast(7);
    EXPECT_EQ(f.Bytes().size(), bytes.size() - 7);
}

#include "RecordingFixture.h"
#include "UnitReadMan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace qrv;
using qrv::test::CountingBytes;
using qrv::test::RecordingFixture;
using qrv::test::TempFolder;

namespace {

// A codec library that remembers which payloads reached it (by their first byte) and
// answers a picture for every frame.
struct FakeCodec {
    static inline std::vector<int> decoded;  // first payload byte of each ZTDecoder call
    static inline std::vector<std::pair<int, int>> created; // width, height

    static int32_t Create(int32_t, int32_t w, int32_t h, int32_t, int32_t)
    {
        created.emplace_back(w, h);
        return 1;
    }
    static int32_t Decode(int32_t, const uint8_t* data, int32_t size, uint8_t*)
    {
        decoded.push_back(size > 0 ? data[0] : -1);
        return 1;
    }
    static int32_t End(int32_t) { return 1; }
    static const TVideoCodecLibrary& Library()
    {
        static const TVideoCodecLibrary library{Create, Decode, End};
        return library;
    }
    static void Reset()
    {
        decoded.clear();
        created.clear();
    }
};

std::vector<uint8_t> Payload(uint8_t tag, size_t size = 8)
{
    return CountingBytes(size, tag);
}

class ReadManTest : public testing::Test {
protected:
    void SetUp() override { FakeCodec::Reset(); }

    std::string Write(const RecordingFixture& fixture, const std::string& name = "r.crd")
    {
        const auto path = m_folder / name;
        fixture.WriteTo(path);
        return path.string();
    }
    std::vector<uint8_t> FileBytes(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    TempFolder m_folder;
    TReadMan m_reader{FakeCodec::Library()};
};

TRecordInfoView View(const TReadMan& reader, int32_t index)
{
    TRecordInfoView view;
    reader.GetRecordInfo(index, view);
    return view;
}

} // namespace

TEST_F(ReadManTest, ScanIndexesEveryRecordWithItsPlayTimeAndPictureState)
{
    RecordingFixture f;
    f.AddAudio(100, 3, Payload(1, 30));       // 0
    f.AddRecord(9, 50, Payload(0, 4));        // skipped, but its delta counts
    f.AddVideo(40, 1, 320, 240, Payload(2), 77); // 1
    f.AddPicture(10, 2, 160, 120, Payload(3));   // 2: FrameFlag 2 shows the picture
    f.AddVideo(40, 2, 320, 240, Payload(4));  // 3: FrameFlag 2 is no key frame
    f.AddPicture(10, 0, 160, 120, Payload(5)); // 4: hidden from here on
    f.AddAudio(5, 0, {});                      // 5: an empty payload
    ASSERT_TRUE(m_reader.Open(Write(f)));
    ASSERT_EQ(m_reader.Count(), 6);
    struct Expect {
        uint8_t type;
        uint32_t playTime;
        uint32_t payloadSize;
        uint8_t pictureShown;
    } expected[] = {
        {1, 100, 30, 0}, {2, 190, 8, 0}, {3, 200, 8, 1}, {2, 240, 8, 1}, {3, 250, 8, 0}, {1, 255, 0, 0},
    };
    for (int32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const auto v = View(m_reader, i);
        EXPECT_EQ(v.RecordType, expected[i].type);
        EXPECT_EQ(v.PlayTime, expected[i].playTime);
        EXPECT_EQ(v.PayloadSize, expected[i].payloadSize);
        EXPECT_EQ(v.PictureShown, expected[i].pictureShown);
    }
    EXPECT_EQ(View(m_reader, 0).AudioChannel, 3);
    EXPECT_EQ(View(m_reader, 1).FrameValue, 77u);
    EXPECT_EQ(View(m_reader, 1).PayloadPos, 631u + 22 + 30 + 21 + 4 + 21 + 13);
    EXPECT_EQ(m_reader.TotalTime(), 255u);
    ASSERT_EQ(m_reader.KeyRecords().Count(), 1);
    EXPECT_EQ(static_cast<const TKeyRecordInfo*>(m_reader.KeyRecords().GetItem(0))->RecordIndex, 1u);
    // Out of range: the view is left alone.
    TRecordInfoView untouched;
    untouched.PlayTime = 4242;
    m_reader.GetRecordInfo(6, untouched);
    m_reader.GetRecordInfo(-1, untouched);
    EXPECT_EQ(untouched.PlayTime, 4242u);
}

TEST_F(ReadManTest, AudioOnlyRecordingKeepsNoKeyFrames)
{
    RecordingFixture f;
    f.Header.RecordingType = 2;
    f.AddVideo(40, 1, 320, 240, Payload(1));
    ASSERT_TRUE(m_reader.Open(Write(f)));
    EXPECT_EQ(m_reader.Count(), 1);
    EXPECT_EQ(m_reader.KeyRecords().Count(), 0);
}

TEST_F(ReadManTest, HeaderOnlyFileOpensEmptyAndTotalTimeRaises)
{
    ASSERT_TRUE(m_reader.Open(Write(RecordingFixture())));
    EXPECT_EQ(m_reader.Count(), 0);
    EXPECT_THROW(m_reader.TotalTime(), EListOutOfRange);
    EXPECT_THROW(m_reader.DecodeFromKeyFrame(0), EListOutOfRange);
    EXPECT_EQ(m_reader.FindVideoRecord(false, 0), -1);
    EXPECT_EQ(m_reader.FindVideoRecord(true, 5), 0);
}

TEST_F(ReadManTest, OpenRefusesWhatIsNotARecording)
{
    RecordingFixture broken;
    broken.Header.EndTime = 0.0;
    const auto tooShort = m_folder / "short.crd";
    std::ofstream(tooShort) << "QRV.";
    std::filesystem::create_directory(m_folder / "folder.crd");
    for (const std::string& path : {Write(broken, "broken.crd"), tooShort.string(), (m_folder / "folder.crd").string(),
                                    (m_folder / "missing.crd").string()}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(m_reader.Open(path));
        EXPECT_FALSE(m_reader.IsOpen());
        EXPECT_TRUE(m_reader.FileName().empty());
        EXPECT_EQ(m_reader.Header(), RecordingHeader{});
    }
}

TEST_F(ReadManTest, CutAndGarbageEndingsKeepWhatCameBefore)
{
    RecordingFixture cut;
    cut.AddAudio(10, 1, Payload(1));
    cut.AddVideo(10, 1, 320, 240, Payload(2, 1000));
    cut.CutLast(600);
    ASSERT_TRUE(m_reader.Open(Write(cut, "cut.crd")));
    ASSERT_EQ(m_reader.Count(), 2); // the cut record is the last, and only once
    EXPECT_EQ(View(m_reader, 1).PayloadSize, 1000u); // the index holds what the record says
    // The payload read hands on the bytes present and zeros for the rest.
    ASSERT_NE(m_reader.DecodeVideoFrame(1), nullptr);

    RecordingFixture garbage;
    garbage.AddAudio(10, 1, Payload(1));
    garbage.AddGarbage(3000);
    ASSERT_TRUE(m_reader.Open(Write(garbage, "garbage.crd")));
    EXPECT_EQ(m_reader.Count(), 1);
}

TEST_F(ReadManTest, PayloadReadsAreBoundedByTheFile)
{
    // The second record's body size is patched to a claim far beyond the 101 bytes present.
    struct Case {
        uint32_t claimedBody;
        std::optional<size_t> payloadSize; // none: no payload at all
    } cases[] = {
        {0x00FFFFFF, 100 + TReadMan::MaxZeroFillBytes}, // present bytes, then a bounded zero tail
        {0xFFFFFFFF, std::nullopt},                     // beyond any payload this reader takes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.claimedBody);
        RecordingFixture f;
        f.AddAudio(10, 1, CountingBytes(20, 1));
        const size_t second = f.AddAudio(10, 2, CountingBytes(100, 7));
        f.Patch(second + 17, {uint8_t(c.claimedBody), uint8_t(c.claimedBody >> 8), uint8_t(c.claimedBody >> 16),
                              uint8_t(c.claimedBody >> 24)});
        ASSERT_TRUE(m_reader.Open(Write(f)));
        ASSERT_EQ(m_reader.Count(), 2);
        EXPECT_EQ(View(m_reader, 1).PayloadSize, c.claimedBody - 1);
        EXPECT_EQ(m_reader.ReadAudioPayload(0), CountingBytes(20, 1));
        const auto payload = m_reader.ReadAudioPayload(1);
        ASSERT_EQ(payload.has_value(), c.payloadSize.has_value());
        if (payload) {
            EXPECT_EQ(payload->size(), *c.payloadSize);
            EXPECT_TRUE(std::equal(payload->begin(), payload->begin() + 100, CountingBytes(100, 7).begin()));
            EXPECT_EQ((*payload)[100], 0);
        }
        EXPECT_FALSE(m_reader.ReadAudioPayload(2));
        EXPECT_FALSE(m_reader.ReadAudioPayload(-1));
    }
}

TEST_F(ReadManTest, DecodeFromKeyFrameFeedsTheVideoRecordsFromTheKeyFrame)
{
    RecordingFixture f;
    f.AddVideo(40, 0, 320, 240, Payload(10)); // 0
    f.AddVideo(40, 1, 320, 240, Payload(11)); // 1
    f.AddVideo(40, 0, 320, 240, Payload(12)); // 2
    f.AddAudio(1, 1, Payload(90));            // 3
    f.AddVideo(40, 1, 320, 240, Payload(14)); // 4
    f.AddVideo(40, 1, 320, 240, Payload(15)); // 5: the key frame before 9
    f.AddPicture(1, 1, 16, 16, Payload(91));  // 6
    f.AddVideo(40, 0, 320, 240, Payload(17)); // 7
    f.AddAudio(1, 1, Payload(92));            // 8
    f.AddVideo(40, 0, 320, 240, Payload(19)); // 9
    ASSERT_TRUE(m_reader.Open(Write(f)));
    ASSERT_NE(m_reader.DecodeVideoFrame(1), nullptr); // a key frame starts the channel
    FakeCodec::decoded.clear();
    EXPECT_NE(m_reader.DecodeFromKeyFrame(9), nullptr);
    EXPECT_EQ(FakeCodec::decoded, (std::vector<int>{15, 17, 19}));

    // On a new channel the fed frames do not start it: a non-key target is still refused.
    FakeCodec::decoded.clear();
    m_reader.CreateDecoder(320, 240);
    EXPECT_EQ(m_reader.DecodeFromKeyFrame(2), nullptr); // feeds 11, refuses 12
    EXPECT_EQ(FakeCodec::decoded, (std::vector<int>{11}));
    FakeCodec::decoded.clear();
    EXPECT_NE(m_reader.DecodeFromKeyFrame(5), nullptr); // a key frame needs no feeding
    EXPECT_EQ(FakeCodec::decoded, (std::vector<int>{15}));
    // With no key frame before it, feeding starts at record 0, even when that is no key frame.
    FakeCodec::decoded.clear();
    m_reader.CreateDecoder(320, 240);
    m_reader.DecodeFromKeyFrame(0);
    EXPECT_TRUE(FakeCodec::decoded.empty()); // record 0 is refused as a first frame
    EXPECT_EQ(m_reader.DecodeFromKeyFrame(3), nullptr); // not a video record
}

TEST_F(ReadManTest, DecodersFollowTheFrameSize)
{
    RecordingFixture f;
    f.Header.VideoWidth = 640;
    f.Header.VideoHeight = 480;
    f.AddVideo(40, 1, 320, 240, Payload(1));
    f.AddVideo(40, 1, 0, 240, Payload(2));
    ASSERT_TRUE(m_reader.Open(Write(f)));
    ASSERT_TRUE(m_reader.HasDecoder());
    EXPECT_EQ(FakeCodec::created.back(), (std::pair{640, 480})); // from the header at the first open
    EXPECT_NE(m_reader.DecodeVideoFrame(0), nullptr);
    EXPECT_EQ(FakeCodec::created.back(), (std::pair{320, 240})); // recreated for the frame
    EXPECT_EQ(m_reader.DecodeVideoFrame(1), nullptr);            // a zero size gives nothing
    // A second open keeps the existing channel.
    ASSERT_TRUE(m_reader.Open(Write(f, "again.crd")));
    EXPECT_EQ(FakeCodec::created.size(), 2u);
}

TEST_F(ReadManTest, FindVideoRecordSearchesBothWays)
{
    RecordingFixture f;
    f.AddAudio(1, 1, Payload(1));             // 0
    f.AddAudio(1, 1, Payload(1));             // 1
    f.AddVideo(1, 1, 8, 8, Payload(1));       // 2
    f.AddAudio(1, 1, Payload(1));             // 3
    ASSERT_TRUE(m_reader.Open(Write(f)));
    struct Case {
        bool backwards;
        int32_t start;
        int32_t expected;
    } cases[] = {
        {true, 3, 2}, {true, 2, 2}, {true, 1, 0}, {true, 0, 0}, {true, -1, -1}, {true, 7, 2},
        {false, 0, 2}, {false, 2, 2}, {false, 3, -1}, {false, -5, 2}, {false, 4, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.backwards << " " << c.start);
        EXPECT_EQ(m_reader.FindVideoRecord(c.backwards, c.start), c.expected);
    }
}

TEST_F(ReadManTest, ReadHeaderTakesVersionsTwoAndThreeOnly)
{
    struct Case {
        uint32_t version;
        bool read;
    } cases[] = {{2, true}, {3, true}, {1, false}, {4, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        RecordingFixture f;
        f.Header.HeaderVersion = c.version;
        const auto path = Write(f, "v.crd");
        RecordingHeader header;
        EXPECT_TRUE(TReadMan::ReadHeader(path, header));
        EXPECT_EQ(header.HeaderVersion, c.read ? c.version : 0u);
        EXPECT_TRUE(m_reader.Open(path)); // the open does not look at the version
    }
    RecordingHeader header;
    header.HeaderVersion = 9;
    EXPECT_TRUE(TReadMan::ReadHeader((m_folder / "missing").string(), header));
    EXPECT_EQ(header, RecordingHeader{});
}

TEST_F(ReadManTest, ReadHeaderCopiesOnlyTheMeaningfulCharacters)
{
    RecordingFixture f;
    f.Header.PasswordText.Chars.fill('9');
    f.Header.PasswordText.Length = 60; // corrupt: more than the capacity of 50
    f.Header.SummaryText.Chars.fill('x');
    f.Header.SummaryText.Length = 3;
    f.Header.Reserved619 = 0x619;
    RecordingHeader header;
    ASSERT_TRUE(TReadMan::ReadHeader(Write(f), header));
    EXPECT_EQ(header.PasswordText.Length, 50);
    EXPECT_EQ(header.PasswordText.Text(), std::string(50, '9'));
    EXPECT_EQ(header.SummaryText.Text(), "xxx");
    EXPECT_EQ(header.SummaryText.Chars[3], 0); // beyond the length: zero
    EXPECT_EQ(header.Reserved619, 0x619u);

    RecordingFixture invalid;
    invalid.Header.NonZero44 = 0;
    header.HeaderVersion = 5;
    ASSERT_TRUE(TReadMan::ReadHeader(Write(invalid, "invalid.crd"), header));
    EXPECT_EQ(header, RecordingHeader{});
}

TEST_F(ReadManTest, ReplacedHeaderIsWrittenBackOnceAndOnlyIntoItsOwnFile)
{
    RecordingFixture f;
    f.AddAudio(10, 1, Payload(1));
    const auto first = Write(f, "first.crd");
    const auto other = Write(f, "other.crd");
    const auto otherBefore = FileBytes(other);
    ASSERT_TRUE(m_reader.Open(first));
    RecordingHeader changed = m_reader.Header();
    changed.SummaryText.Assign("c3VtbWFyeQ==");
    m_reader.ReplaceHeader(changed);
    EXPECT_TRUE(m_reader.HeaderModified());
    ASSERT_TRUE(m_reader.Open(other)); // closes the first: written back there
    EXPECT_FALSE(m_reader.HeaderModified());
    m_reader.Close();
    RecordingHeader header;
    TReadMan::ReadHeader(first, header);
    EXPECT_EQ(header.SummaryText.Text(), "c3VtbWFyeQ==");
    EXPECT_EQ(FileBytes(first).size(), FileBytes(other).size()); // nothing but the header changed
    EXPECT_EQ(FileBytes(other), otherBefore);
}

TEST_F(ReadManTest, WriteBackReachesARecordingOpenedThroughALink)
{
    RecordingFixture f;
    const auto target = Write(f, "target.crd");
    const auto link = m_folder / "link.crd";
    std::filesystem::create_symlink(target, link);
    ASSERT_TRUE(m_reader.Open(link.string()));
    RecordingHeader changed = m_reader.Header();
    changed.RecordedSize = 4321;
    m_reader.ReplaceHeader(changed);
    m_reader.Close();
    RecordingHeader header;
    TReadMan::ReadHeader(target, header);
    EXPECT_EQ(header.RecordedSize, 4321u);
}

TEST_F(ReadManTest, WriteBackSkipsAFileThatWasReplacedOrIsNoLongerARecording)
{
    RecordingFixture f;
    struct Case {
        const char* name;
        void (*meddle)(const std::string& path);
    } cases[] = {
        {"replaced by another file", [](const std::string& path) {
             std::filesystem::remove(path);
             std::ofstream(path, std::ios::binary) << std::string(700, 'z');
         }},
        {"magic overwritten", [](const std::string& path) {
             std::fstream(path, std::ios::in | std::ios::out | std::ios::binary) << "XXXX";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = Write(f);
        ASSERT_TRUE(m_reader.Open(path));
        RecordingHeader changed = m_reader.Header();
        changed.RecordedSize = 1234;
        m_reader.ReplaceHeader(changed);
        c.meddle(path);
        const auto before = FileBytes(path);
        m_reader.Close();
        EXPECT_EQ(FileBytes(path), before);
    }
}

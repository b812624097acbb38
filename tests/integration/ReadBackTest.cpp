// A recording written by crdgen, read back through the reader and the real video codec
// library: every decoded frame must show the play time its record is indexed at.

#include "RecordingFixture.h"
#include "JpegWriter.h"
#include "TestPicture.h"
#include "UnitReadMan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace qrv;

namespace {

class ReadBack : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = new test::TempFolder;
        s_path = (*s_folder / "clip.crd").string();
        const std::string command = std::string(CRDGEN_PATH) +
                                    " --duration 4 --size 320x240 --fps 25 --gop 25 --channels 2 "
                                    "--picture-every 1 --seed 5 -o " + s_path + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static void TearDownTestSuite() { delete s_folder; }

    static inline test::TempFolder* s_folder = nullptr;
    static inline std::string s_path;
};

std::vector<int32_t> VideoRecords(const TReadMan& reader)
{
    std::vector<int32_t> indexes;
    for (int32_t i = 0; i < reader.Count(); ++i) {
        TRecordInfoView view;
        reader.GetRecordInfo(i, view);
        if (view.RecordType == static_cast<uint8_t>(TRecordType::rtVideo))
            indexes.push_back(i);
    }
    return indexes;
}

uint32_t PlayTime(const TReadMan& reader, int32_t index)
{
    TRecordInfoView view;
    reader.GetRecordInfo(index, view);
    return view.PlayTime;
}

} // namespace

TEST_F(ReadBack, EveryFrameInFileOrderShowsItsPlayTime)
{
    TReadMan reader;
    ASSERT_TRUE(reader.Open(s_path));
    const auto video = VideoRecords(reader);
    ASSERT_EQ(video.size(), 100u);
    for (const int32_t index : video) {
        const auto picture = reader.DecodeVideoFrame(index);
        ASSERT_NE(picture, nullptr) << index;
        EXPECT_EQ(picture->Width(), 320);
        EXPECT_EQ(tools::ReadBurnedInTime(*picture), PlayTime(reader, index)) << "record " << index;
    }
}

TEST_F(ReadBack, DecodingFromTheKeyFrameReachesAnyFrame)
{
    TReadMan reader;
    ASSERT_TRUE(reader.Open(s_path));
    const auto video = VideoRecords(reader);
    ASSERT_NE(reader.DecodeVideoFrame(video.front()), nullptr); // a key frame starts the channel
    // Jumps backwards and forwards, into the middle of key-frame intervals.
    for (const size_t n : {60u, 13u, 99u, 26u, 24u, 1u, 75u}) {
        const int32_t index = video[n];
        const auto picture = reader.DecodeFromKeyFrame(index);
        ASSERT_NE(picture, nullptr) << "frame " << n;
        EXPECT_EQ(tools::ReadBurnedInTime(*picture), PlayTime(reader, index)) << "frame " << n;
    }
}

TEST_F(ReadBack, PicturesAndAudioPayloadsReadBack)
{
    TReadMan reader;
    ASSERT_TRUE(reader.Open(s_path));
    int pictures = 0, packets = 0;
    for (int32_t i = 0; i < reader.Count(); ++i) {
        TRecordInfoView view;
        reader.GetRecordInfo(i, view);
        if (view.RecordType == static_cast<uint8_t>(TRecordType::rtPicture)) {
            const auto slide = reader.ReadPicture(i);
            ASSERT_NE(slide, nullptr);
            EXPECT_EQ(slide->Width(), view.FrameWidth);
            EXPECT_EQ(slide->Height(), view.FrameHeight);
            ++pictures;
        } else if (view.RecordType == static_cast<uint8_t>(TRecordType::rtAudio)) {
            const auto packet = reader.ReadAudioPayload(i);
            ASSERT_TRUE(packet);
            ASSERT_GE(packet->size(), 16u);
            EXPECT_EQ((*packet)[0], 0xF1);
            EXPECT_EQ((*packet)[10], view.AudioChannel); // the packet's channel is the record's
            ++packets;
        }
    }
    EXPECT_EQ(pictures, 4);
    EXPECT_GT(packets, 100);
}

TEST(ReadPicture, BrokenOrLyingPicturesGiveNothing)
{
    TBitmap24 slide(64, 48);
    tools::DrawSlide(slide, 3);
    const auto good = tools::EncodeJpeg(slide, 80);
    // The SOF0 marker (FF C0) holds the height and width after its length and precision.
    auto lying = good;
    const auto sof = std::search(lying.begin(), lying.end(), std::begin({uint8_t{0xFF}, uint8_t{0xC0}}),
                                 std::end({uint8_t{0xFF}, uint8_t{0xC0}}));
    ASSERT_NE(sof, lying.end());
    std::fill(sof + 5, sof + 9, uint8_t{0xFF}); // 65535 x 65535
    std::vector<uint8_t> cut(good.begin(), good.end() - 40); // inside the scan data
    struct Case {
        const char* name;
        std::vector<uint8_t> payload;
        bool picture;
    } cases[] = {
        {"whole", good, true},
        {"claims 65535 x 65535", lying, false},
        {"not a JPEG", test::CountingBytes(500), false},
        {"empty", {}, false},
        {"cut short", cut, true}, // what arrived is shown, the rest is grey
    };
    test::TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingFixture f;
        f.AddPicture(10, 1, 64, 48, c.payload);
        f.WriteTo(folder / "p.crd");
        TReadMan reader;
        ASSERT_TRUE(reader.Open((folder / "p.crd").string()));
        const auto picture = reader.ReadPicture(0);
        EXPECT_EQ(picture != nullptr, c.picture);
        if (picture) {
            EXPECT_EQ(picture->Width(), 64);
            EXPECT_EQ(picture->Height(), 48);
        }
    }
}

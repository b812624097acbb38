#include "RecordScanner.h"
#include "RecordingFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace qrv;
using qrv::test::CountingBytes;
using qrv::test::RecordingFixture;
using qrv::test::TempFolder;

namespace {

// Walks the fixture's file and answers every record the scanner hands out.
std::vector<TScannedRecord> Walk(const RecordingFixture& fixture)
{
    TempFolder folder;
    const auto path = folder / "walk.crd";
    fixture.WriteTo(path);
    const int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    std::vector<TScannedRecord> records;
    TRecordScanner scanner(fd, std::filesystem::file_size(path));
    for (TScannedRecord r; scanner.Next(r);)
        records.push_back(r);
    close(fd);
    return records;
}

} // namespace

TEST(TRecordScanner, HeaderOnlyFileHasNoRecords)
{
    EXPECT_TRUE(Walk(RecordingFixture()).empty());
}

TEST(TRecordScanner, VisitsEveryRecordWithItsSubHeader)
{
    RecordingFixture f;
    const size_t audio = f.AddAudio(5, 7, CountingBytes(30));
    const size_t video = f.AddVideo(40, 1, 320, 240, CountingBytes(100), 0xABCD);
    const size_t other = f.AddRecord(9, 3, CountingBytes(4)); // an unknown type is still walked
    const size_t picture = f.AddPicture(1, 2, 160, 120, CountingBytes(50));
    const size_t empty = f.AddAudio(0, 1, {});
    const auto records = Walk(f);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].Offset, audio);
    EXPECT_EQ(records[0].AudioChannel, 7);
    EXPECT_EQ(records[0].PayloadPos, audio + 21 + 1);
    EXPECT_EQ(records[1].Offset, video);
    EXPECT_EQ(records[1].Frame.FrameValue, 0xABCDu);
    EXPECT_EQ(records[1].Frame.FrameWidth, 320);
    EXPECT_EQ(records[1].PayloadPos, video + 21 + 13);
    EXPECT_EQ(records[2].Offset, other);
    EXPECT_EQ(records[2].Header.RecordType, 9);
    EXPECT_EQ(records[2].Header.TimeDelta, 3u);
    EXPECT_EQ(records[3].Offset, picture);
    EXPECT_EQ(records[3].Frame.FrameFlag, 2);
    EXPECT_EQ(records[4].Offset, empty);
    EXPECT_EQ(records[4].Header.BodySize, 1u);
}

TEST(TRecordScanner, EndsQuietlyAtBrokenOrShortRecords)
{
    struct Case {
        const char* name;
        void (*finish)(RecordingFixture&);
        size_t records;
    } cases[] = {
        {"garbage after the records", [](RecordingFixture& f) { f.AddGarbage(100); }, 2},
        {"fewer than 21 bytes left", [](RecordingFixture& f) { f.AddBytes({'R', 'c', 'H', 'd', 1, 2}); }, 2},
        {"body cut short is the last record", [](RecordingFixture& f) { f.AddVideo(1, 0, 8, 8, CountingBytes(500)); f.CutLast(400); }, 3},
        {"cut inside the frame header", [](RecordingFixture& f) { f.AddVideo(1, 0, 8, 8, CountingBytes(50)); f.CutLast(58); }, 3},
        {"broken sync word", [](RecordingFixture& f) { f.AddAudio(1, 1, {1}); f.AddAudio(1, 1, {2}); f.Patch(631 + 2 * 22 + 22, {'X'}); }, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingFixture f;
        f.AddAudio(10, 1, CountingBytes(1));
        f.AddAudio(10, 2, CountingBytes(1));
        c.finish(f);
        EXPECT_EQ(Walk(f).size(), c.records);
    }
}

TEST(TRecordScanner, MissingSubHeaderBytesReadAsZero)
{
    RecordingFixture f;
    f.AddVideo(1, 1, 640, 480, {});
    f.CutLast(7); // keeps FrameValue and FrameWidth only
    const auto records = Walk(f);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Frame.FrameWidth, 640);
    EXPECT_EQ(records[0].Frame.FrameHeight, 0);
    EXPECT_EQ(records[0].Frame.FrameFlag, 0);
}

TEST(TRecordScanner, WalksPastManyBufferRefills)
{
    // Records of mixed sizes around the 64 KiB buffer, so headers straddle refills.
    RecordingFixture f;
    std::vector<size_t> offsets;
    for (int i = 0; i < 300; ++i)
        offsets.push_back(f.AddVideo(1, i % 10 == 0, 8, 8, CountingBytes(static_cast<size_t>(i * 997 % 70000))));
    const auto records = Walk(f);
    ASSERT_EQ(records.size(), offsets.size());
    for (size_t i = 0; i < offsets.size(); ++i)
        ASSERT_EQ(records[i].Offset, offsets[i]) << i;
}

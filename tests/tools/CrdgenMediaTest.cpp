#include "AudioPacketWriter.h"
#include "ByteOrder.h"
#include "H264Encoder.h"
#include "HeaderTextCodec.h"
#include "JpegWriter.h"
#include "RecordingFormat.h"
#include "SystemCodePage.h"
#include "TalkerSignal.h"
#include "TestPicture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <speex/speex.h>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <jpeglib.h>
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

using namespace qrv;
using namespace qrv::tools;

namespace {

// --- helpers ---------------------------------------------------------------------------

// Decodes a stream of H.264 access units with libavcodec into blue-green-red pictures.
class H264TestDecoder {
public:
    H264TestDecoder()
    {
        if (const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264)) {
            m_context = avcodec_alloc_context3(codec);
            if (m_context && avcodec_open2(m_context, codec, nullptr) < 0)
                avcodec_free_context(&m_context);
        }
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~H264TestDecoder()
    {
        sws_freeContext(m_scaler);
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_context);
    }
    bool Ok() const { return m_context != nullptr && m_frame != nullptr && m_packet != nullptr; }

    std::unique_ptr<TBitmap24> Decode(const std::vector<uint8_t>& unit)
    {
        if (av_new_packet(m_packet, static_cast<int>(unit.size())) < 0)
            return nullptr;
        std::copy(unit.begin(), unit.end(), m_packet->data);
        const int sent = avcodec_send_packet(m_context, m_packet);
        av_packet_unref(m_packet);
        if (sent < 0 || avcodec_receive_frame(m_context, m_frame) < 0)
            return nullptr;
        auto picture = std::make_unique<TBitmap24>(m_frame->width, m_frame->height);
        m_scaler = sws_getCachedContext(m_scaler, m_frame->width, m_frame->height,
                                        static_cast<AVPixelFormat>(m_frame->format), m_frame->width,
                                        m_frame->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        uint8_t* planes[1] = {picture->Bits()};
        const int strides[1] = {static_cast<int>(picture->Stride())};
        sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, m_frame->height, planes, strides);
        return picture;
    }

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
};

struct JpegError {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

// Width, height and the colour near the top-left corner of a JPEG picture; false when it
// does not decode.
bool DecodeJpegInfo(const std::vector<uint8_t>& jpeg, int& width, int& height, TRgb& corner)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.Base);
    error.Base.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->Jump, 1); };
    std::vector<uint8_t> row;
    if (setjmp(error.Jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    row.resize(static_cast<size_t>(width) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        const auto y = static_cast<int>(info.output_scanline);
        jpeg_read_scanlines(&info, rows, 1);
        if (y == 4)
            corner = TRgb{row[12], row[13], row[14]}; // pixel (4, 4)
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

double Rms(std::span<const int16_t> samples)
{
    double sum = 0;
    for (const int16_t s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

std::vector<int16_t> Generate(TalkerSignal& signal, size_t count)
{
    std::vector<int16_t> samples(count);
    signal.Generate(samples);
    return samples;
}

// Decodes the frames of one wire packet with Speex wideband; each frame's PCM appended.
struct DecodedPacket {
    bool WithinDataSize = true;
    std::vector<size_t> FrameSamples;
    std::vector<int16_t> Pcm;
};

DecodedPacket DecodePacket(void* decoder, const std::vector<uint8_t>& packet)
{
    DecodedPacket result;
    const size_t dataSize = LoadU16(&packet[2]);
    size_t pos = AudioPacketHeaderSize;
    const size_t end = AudioPacketHeaderSize + dataSize;
    SpeexBits bits;
    speex_bits_init(&bits);
    for (int frame = 0; frame < packet[11]; ++frame) {
        if (pos >= end) {
            result.WithinDataSize = false;
            break;
        }
        const size_t length = packet[pos];
        if (pos + 1 + length > end) {
            result.WithinDataSize = false;
            break;
        }
        speex_bits_read_from(&bits, reinterpret_cast<const char*>(&packet[pos + 1]), static_cast<int>(length));
        std::vector<spx_int16_t> pcm(640, 0);
        const int status = speex_decode_int(decoder, &bits, pcm.data());
        int frameSize = 0;
        speex_decoder_ctl(decoder, SPEEX_GET_FRAME_SIZE, &frameSize);
        result.FrameSamples.push_back(status == 0 ? static_cast<size_t>(frameSize) : 0);
        result.Pcm.insert(result.Pcm.end(), pcm.begin(), pcm.begin() + frameSize);
        pos += 1 + length;
    }
    speex_bits_destroy(&bits);
    if (pos != end)
        result.WithinDataSize = false;
    return result;
}

} // namespace

// --- burned-in time ----------------------------------------------------------------------

TEST(TestPicture, BurnedInTimeAndFrameNumberReadBack)
{
    struct Size {
        int width, height;
    } sizes[] = {{640, 480}, {320, 240}, {1280, 720}, {176, 144}, {1920, 1080}};
    struct Moment {
        uint32_t frame, ms;
    } moments[] = {{0, 0}, {1, 40}, {1499, 59'960}, {123'456, 754'321}, {999'999, 5'999'999}};
    for (const auto& size : sizes) {
        TBitmap24 picture(size.width, size.height);
        for (const auto& m : moments) {
            SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + " at " +
                         std::to_string(m.ms));
            DrawTestPicture(picture, m.frame, m.ms);
            EXPECT_EQ(ReadBurnedInTime(picture), m.ms);
            EXPECT_EQ(ReadBurnedInFrameNumber(picture), m.frame);
        }
    }
}

TEST(TestPicture, TimeWrapsAfter99MinutesAndDigitsAreLargeAt480Lines)
{
    EXPECT_EQ(FormatPlayTime(61'234), "01:01.234");
    EXPECT_EQ(FormatPlayTime(100 * 60'000 + 5), "00:00.005");
    EXPECT_GE(BurnedInCellSize(640, 480) * GlyphRows, 24); // readable in a 640x480 screenshot
}

TEST(TestPicture, PicturesWithoutTheTextReadAsNone)
{
    TBitmap24 picture(640, 480);
    for (const uint8_t value : {0, 128, 255}) {
        std::fill_n(picture.Bits(), picture.SizeBytes(), value);
        EXPECT_EQ(ReadBurnedInTime(picture), std::nullopt) << int(value);
    }
    // A digit with many cells damaged is refused rather than read as another digit.
    DrawTestPicture(picture, 7, 1234);
    const int cell = BurnedInCellSize(640, 480);
    FillRect(picture, 4 * cell, 4 * cell, 5 * cell, 3 * cell, TRgb{255, 255, 255});
    EXPECT_EQ(ReadBurnedInTime(picture), std::nullopt);
}

TEST(TestPicture, FramesChangeFromOneToTheNext)
{
    TBitmap24 a(320, 240), b(320, 240);
    DrawTestPicture(a, 10, 400);
    DrawTestPicture(b, 11, 400); // same time, next frame: the pattern alone moves
    EXPECT_FALSE(std::equal(a.Bits(), a.Bits() + a.SizeBytes(), b.Bits()));
}

TEST(TestPicture, BurnedInTimeSurvivesH264)
{
    H264TestDecoder decoder;
    if (!decoder.Ok())
        GTEST_SKIP() << "no H.264 decoder in libavcodec";
    for (const auto& [width, height] : {std::pair{640, 480}, std::pair{320, 240}}) {
        auto encoder = H264Encoder::Create(width, height, 25, 10);
        if (!encoder)
            GTEST_SKIP() << "the H.264 encoder does not open";
        TBitmap24 picture(width, height);
        for (uint32_t frame = 0; frame < 30; ++frame) {
            SCOPED_TRACE(std::to_string(width) + " frame " + std::to_string(frame));
            const uint32_t ms = 60'000 - 40 + frame * 40; // crosses a minute
            DrawTestPicture(picture, frame, ms);
            const EncodedFrame encoded = encoder->Encode(picture);
            ASSERT_FALSE(encoded.Payload.empty());
            const auto decoded = decoder.Decode(encoded.Payload);
            ASSERT_NE(decoded, nullptr);
            EXPECT_EQ(ReadBurnedInTime(*decoded), ms);
            EXPECT_EQ(ReadBurnedInFrameNumber(*decoded), frame);
        }
    }
}

// --- slides ------------------------------------------------------------------------------

TEST(Slides, CompressToJpegOfTheirSizeWithChangingBackgrounds)
{
    TBitmap24 slide(320, 240);
    std::map<int, int> seen; // corner colour, coarsely -> slide
    for (uint32_t number = 1; number <= 3; ++number) {
        SCOPED_TRACE(number);
        DrawSlide(slide, number);
        const auto jpeg = EncodeJpeg(slide);
        ASSERT_GE(jpeg.size(), 4u);
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);
        int width = 0, height = 0;
        TRgb corner;
        ASSERT_TRUE(DecodeJpegInfo(jpeg, width, height, corner));
        EXPECT_EQ(width, 320);
        EXPECT_EQ(height, 240);
        seen[corner.R / 16 * 256 + corner.G / 16 * 16 + corner.B / 16] = static_cast<int>(number);
    }
    EXPECT_EQ(seen.size(), 3u);
}

// --- audio packets -----------------------------------------------------------------------

TEST(AudioPacket, HeaderFieldsSitAtTheirOffsets)
{
    AudioPacketFields fields;
    fields.SyncTag = 0xBEEF;
    fields.SyncTime = 0x01020304;
    fields.ChannelID = 7;
    fields.UserData = 0xA1B2C3D4;
    const std::vector<std::vector<uint8_t>> frames = {
        std::vector<uint8_t>(3, 0x11), {}, std::vector<uint8_t>(255, 0x22)};
    const auto packet = BuildAudioDataPacket(fields, frames);
    const size_t dataSize = (1 + 3) + (1 + 0) + (1 + 255);
    ASSERT_EQ(packet.size(), AudioPacketHeaderSize + dataSize);
    EXPECT_EQ(packet[0], 0xF1);
    EXPECT_EQ(packet[1], 3);
    EXPECT_EQ(LoadU16(&packet[2]), dataSize);
    EXPECT_EQ(LoadU16(&packet[4]), 0xBEEF);
    EXPECT_EQ(LoadU32(&packet[6]), 0x01020304u);
    EXPECT_EQ(packet[10], 7);
    EXPECT_EQ(packet[11], 3);
    EXPECT_EQ(LoadU32(&packet[12]), 0xA1B2C3D4u);
    EXPECT_EQ(packet[16], 3);
    EXPECT_EQ(packet[17], 0x11);
    EXPECT_EQ(packet[20], 0);   // the empty frame's length byte
    EXPECT_EQ(packet[21], 255);
    EXPECT_EQ(packet.back(), 0x22);
}

TEST(AudioPacket, RefusesWhatTheReceiverWouldDrop)
{
    AudioPacketFields fields;
    const std::vector<std::vector<uint8_t>> tooLongFrame = {std::vector<uint8_t>(256)};
    const std::vector<std::vector<uint8_t>> tooManyFrames(51, std::vector<uint8_t>(1));
    const std::vector<std::vector<uint8_t>> fiftyFrames(50, std::vector<uint8_t>(1));
    const std::vector<std::vector<uint8_t>> tooLarge(33, std::vector<uint8_t>(255)); // 16 + 33 * 256 > 8191
    EXPECT_TRUE(BuildAudioDataPacket(fields, tooLongFrame).empty());
    EXPECT_TRUE(BuildAudioDataPacket(fields, tooManyFrames).empty());
    EXPECT_FALSE(BuildAudioDataPacket(fields, fiftyFrames).empty());
    EXPECT_TRUE(BuildAudioDataPacket(fields, tooLarge).empty());
}

TEST(AudioPacket, TalkerPacketsCarryThreeDecodableWidebandFrames)
{
    TalkerPacketSource source(2, 1);
    void* decoder = speex_decoder_init(speex_lib_get_mode(SPEEX_MODEID_WB));
    ASSERT_NE(decoder, nullptr);
    double loudest = 0;
    for (uint32_t n = 0; n < 50; ++n) {
        SCOPED_TRACE(n);
        const auto packet = source.NextPacket(n * 60);
        ASSERT_GE(packet.size(), AudioPacketHeaderSize);
        EXPECT_EQ(packet[0], 0xF1);
        EXPECT_EQ(packet[1], 3);
        EXPECT_EQ(LoadU16(&packet[2]), packet.size() - AudioPacketHeaderSize);
        EXPECT_EQ(LoadU16(&packet[4]), n);
        EXPECT_EQ(LoadU32(&packet[6]), n * 60);
        EXPECT_EQ(packet[10], 2);
        EXPECT_EQ(packet[11], 3);
        EXPECT_EQ(LoadU32(&packet[12]), n);
        const DecodedPacket decoded = DecodePacket(decoder, packet);
        EXPECT_TRUE(decoded.WithinDataSize);
        EXPECT_EQ(decoded.FrameSamples, (std::vector<size_t>{320, 320, 320}));
        loudest = std::max(loudest, Rms(decoded.Pcm));
    }
    speex_decoder_destroy(decoder);
    EXPECT_GT(loudest, 1000); // 3 s of a talker include speech, and it survives the codec
}

// --- talker signal -----------------------------------------------------------------------

TEST(TalkerSignal, AlternatesSyllablesAndPausesOfSpeechLikeLengths)
{
    for (const int channel : {1, 2, 3}) {
        SCOPED_TRACE(channel);
        TalkerSignal signal(channel, 42);
        // Lengths of the runs of Speaking(), in samples, over 30 s.
        std::vector<std::pair<bool, int>> runs;
        std::vector<int16_t> sample(1);
        double speechEnergy = 0, pauseEnergy = 0;
        int speechSamples = 0, pauseSamples = 0;
        for (int i = 0; i < 30 * TalkerSignal::SampleRate; ++i) {
            signal.Generate(sample);
            const bool speaking = signal.Speaking();
            if (runs.empty() || runs.back().first != speaking)
                runs.emplace_back(speaking, 0);
            ++runs.back().second;
            (speaking ? speechEnergy : pauseEnergy) += static_cast<double>(sample[0]) * sample[0];
            ++(speaking ? speechSamples : pauseSamples);
        }
        ASSERT_GT(runs.size(), 20u);
        EXPECT_FALSE(runs.front().first); // a talker starts silent
        for (size_t i = 0; i + 1 < runs.size(); ++i) { // the last run is cut by the end
            const int ms = runs[i].second * 1000 / TalkerSignal::SampleRate;
            if (runs[i].first) {
                EXPECT_GE(ms, TalkerSignal::MinSyllableMs - 1);
                EXPECT_LE(ms, TalkerSignal::MaxSyllableMs);
            } else {
                EXPECT_GE(ms, TalkerSignal::MinPauseMs - 1);
                EXPECT_LE(ms, TalkerSignal::MaxPauseMs);
            }
        }
        EXPECT_GT(std::sqrt(speechEnergy / speechSamples), 1500);
        EXPECT_LT(std::sqrt(pauseEnergy / pauseSamples), 20);
    }
}

TEST(TalkerSignal, IsNotAPureToneAndDiffersByChannelAndSeed)
{
    // The energy of the first difference relative to the signal's grows with frequency:
    // a sine at a talker's pitch (100-400 Hz) gives under 0.03, one at 700 Hz 0.075.
    // Harmonics and formants up to a few kHz lift it well above that.
    TalkerSignal signal(1, 7);
    std::vector<int16_t> samples = Generate(signal, 10 * TalkerSignal::SampleRate);
    double energy = 0, diffEnergy = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        energy += static_cast<double>(samples[i]) * samples[i];
        const double d = static_cast<double>(samples[i]) - samples[i - 1];
        diffEnergy += d * d;
    }
    EXPECT_GT(diffEnergy / energy, 0.1);

    TalkerSignal same(1, 7), otherChannel(2, 7), otherSeed(1, 8);
    EXPECT_EQ(Generate(same, samples.size()), samples);
    EXPECT_NE(Generate(otherChannel, samples.size()), samples);
    EXPECT_NE(Generate(otherSeed, samples.size()), samples);
}

// --- the crdgen program --------------------------------------------------------------------

namespace {

std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct WalkedRecord {
    RecordHeader Header;
    uint32_t PlayTime = 0;
    std::vector<uint8_t> Body;
};

std::vector<WalkedRecord> Walk(const std::vector<uint8_t>& file)
{
    std::vector<WalkedRecord> records;
    size_t pos = RecordingHeaderSize;
    uint32_t playTime = 0;
    while (pos + RecordHeaderSize <= file.size()) {
        WalkedRecord r;
        r.Header = ParseRecordHeader(std::span<const uint8_t, RecordHeaderSize>(&file[pos], RecordHeaderSize));
        if (r.Header.SyncWord != RecordSyncWord || pos + RecordHeaderSize + r.Header.BodySize > file.size())
            break;
        playTime += r.Header.TimeDelta;
        r.PlayTime = playTime;
        r.Body.assign(file.begin() + static_cast<long>(pos + RecordHeaderSize),
                      file.begin() + static_cast<long>(pos + RecordHeaderSize + r.Header.BodySize));
        pos += RecordHeaderSize + r.Header.BodySize;
        records.push_back(std::move(r));
    }
    return records;
}

class Crdgen : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("crdgen-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Runs crdgen with `arguments`; the file it wrote, empty when it failed.
    std::vector<uint8_t> Run(const std::string& name, const std::string& arguments)
    {
        const auto path = m_dir / name;
        const std::string command = std::string("QRV_CODEPAGE=CP949 '") + CRDGEN_PATH + "' -o '" + path.string() +
                                    "' " + arguments + " > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return {};
        return ReadFile(path);
    }

    std::filesystem::path m_dir;
};

} // namespace

TEST_F(Crdgen, WritesARecordingOfRealMediaInPlayTimeOrder)
{
    // "비밀번호확인하기" (8 Korean characters) + "x": 17 bytes in CP949, cut to 16.
    const std::string password = "\xEB\xB9\x84\xEB\xB0\x80\xEB\xB2\x88\xED\x98\xB8\xED\x99\x95\xEC\x9D\xB8"
                                 "\xED\x95\x98\xEA\xB8\xB0x";
    const std::string summary = "\xED\x9A\x8C\xEC\x9D\x98 summary";
    const auto file = Run("a.crd", "--duration 4.5 --size 320x240 --fps 10 --gop 10 --channels 2 "
                                   "--picture-every 1 --seed 5 --password '" + password + "' --summary '" +
                                   summary + "'");
    ASSERT_GT(file.size(), RecordingHeaderSize);
    const RecordingHeader header =
        ParseRecordingHeader(std::span<const uint8_t, RecordingHeaderSize>(file.data(), RecordingHeaderSize));
    EXPECT_TRUE(IsValidHeader(header));
    EXPECT_EQ(header.RecordedSize, file.size());
    EXPECT_EQ(header.VideoWidth, 320u);
    EXPECT_EQ(DecodePassword(header.PasswordText.Text()), ToCodePage(password.substr(0, 8 * 3), "CP949"));
    EXPECT_EQ(DecodeSummary(header.SummaryText.Text()), summary);

    const auto records = Walk(file);
    int video = 0, pictures = 0;
    std::map<uint8_t, uint32_t> packetsPerChannel;
    uint32_t lastPlayTime = 0;
    H264TestDecoder decoder;
    for (const WalkedRecord& r : records) {
        SCOPED_TRACE(r.PlayTime);
        EXPECT_GE(r.PlayTime, lastPlayTime);
        lastPlayTime = r.PlayTime;
        switch (static_cast<TRecordType>(r.Header.RecordType)) {
        case TRecordType::rtAudio: {
            ASSERT_GE(r.Body.size(), 1 + AudioPacketHeaderSize);
            const uint8_t channel = r.Body[0];
            EXPECT_EQ(r.Body[1 + 10], channel); // ChannelID matches the record's channel
            EXPECT_EQ(LoadU16(&r.Body[1 + 2]), r.Body.size() - 1 - AudioPacketHeaderSize);
            EXPECT_EQ(LoadU32(&r.Body[1 + 12]), packetsPerChannel[channel]++);
            break;
        }
        case TRecordType::rtVideo: {
            const FrameHeader frame = ParseFrameHeader(std::span<const uint8_t, FrameHeaderSize>(r.Body.data(), FrameHeaderSize));
            EXPECT_EQ(frame.FrameValue, static_cast<uint32_t>(video));
            EXPECT_EQ(frame.FrameWidth, 320);
            EXPECT_EQ(frame.FrameHeight, 240);
            EXPECT_EQ(frame.FrameFlag, video % 10 == 0 ? 1 : 0);
            if (decoder.Ok()) {
                const auto picture = decoder.Decode(std::vector<uint8_t>(r.Body.begin() + FrameHeaderSize, r.Body.end()));
                ASSERT_NE(picture, nullptr);
                EXPECT_EQ(ReadBurnedInTime(*picture), r.PlayTime);
            }
            ++video;
            break;
        }
        case TRecordType::rtPicture: {
            const FrameHeader frame = ParseFrameHeader(std::span<const uint8_t, FrameHeaderSize>(r.Body.data(), FrameHeaderSize));
            EXPECT_EQ(frame.FrameFlag, pictures % 4 == 3 ? 0 : 1);
            EXPECT_EQ(r.Body[FrameHeaderSize], 0xFF); // a JPEG's start marker
            ++pictures;
            break;
        }
        default:
            ADD_FAILURE() << "unexpected record type " << int(r.Header.RecordType);
        }
    }
    EXPECT_EQ(video, 45);
    EXPECT_EQ(pictures, 5);
    EXPECT_EQ(packetsPerChannel.size(), 2u);
    EXPECT_EQ(packetsPerChannel[1], 75u); // 4.5 s of 60 ms packets
    EXPECT_EQ(packetsPerChannel[2], 75u);
}

TEST_F(Crdgen, TheSameSeedGivesTheSameBytes)
{
    const std::string options = "--duration 2 --size 160x120 --channels 2 --picture-every 1 ";
    const auto a = Run("a.crd", options + "--seed 3");
    const auto b = Run("b.crd", options + "--seed 3");
    const auto c = Run("c.crd", options + "--seed 4");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST_F(Crdgen, RecordingTypesLeaveOutVideoOrAudio)
{
    struct Case {
        int type;
        bool video, audio;
    } cases[] = {{1, true, false}, {2, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const auto file = Run("t.crd", "--duration 1 --size 160x120 --picture-every 0 --type " + std::to_string(c.type));
        ASSERT_FALSE(file.empty());
        bool video = false, audio = false;
        for (const WalkedRecord& r : Walk(file)) {
            video |= r.Header.RecordType == static_cast<uint8_t>(TRecordType::rtVideo);
            audio |= r.Header.RecordType == static_cast<uint8_t>(TRecordType::rtAudio);
        }
        EXPECT_EQ(video, c.video);
        EXPECT_EQ(audio, c.audio);
    }
}

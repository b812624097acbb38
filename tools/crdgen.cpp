// crdgen: writes recordings for demos, tests and benchmarks.
//
//   crdgen -o demo.crd [--duration 60] [--size 640x480] [--fps 25] [--gop 50]
//          [--channels 2] [--picture-every 5] [--type 0] [--version 2] [--seed 1]
//          [--password TEXT] [--summary TEXT] [--fast]
//
// A normal run writes real media: H.264 video of a moving test picture with the play time
// and the frame number burned in, one Speex wideband talker per audio channel (60 ms
// packets of three 20 ms frames), and numbered JPEG slides, every fourth of which hides
// the small picture window again. The same options and seed give the same bytes: nothing
// depends on the clock (the start time follows from the seed).
//
// --fast writes random payloads of plausible sizes instead of encoded media: such files
// are for index-only stress tests and benchmarks, their frames decode to nothing.

#include "AudioPacketWriter.h"
#include "H264Encoder.h"
#include "HeaderTextCodec.h"
#include "JpegWriter.h"
#include "OleDateTime.h"
#include "RecordingWriter.h"
#include "SystemCodePage.h"
#include "TestPicture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace qrv;

struct Options {
    std::string output;
    double durationS = 60;
    int width = 640;
    int height = 480;
    int fps = 25;
    int gop = 50;             // frames from one key frame to the next
    int channels = 2;         // talker channels 1..N
    int pictureEveryS = 5;    // a picture record every N seconds (0: none)
    uint32_t recordingType = 0;
    uint32_t version = PlayableHeaderVersion;
    uint32_t seed = 1;
    std::string password; // UTF-8
    std::string summary;  // UTF-8
    bool fast = false;
};

constexpr int AudioPacketMs = 60; // three 20 ms Speex frames per packet
constexpr int SlideWidth = 320;
constexpr int SlideHeight = 240;

void Usage()
{
    std::fputs("usage: crdgen -o FILE [--duration S] [--size WxH] [--fps N] [--gop N] [--channels N]\n"
               "              [--picture-every S] [--type 0|1|2] [--version N] [--seed N]\n"
               "              [--password TEXT] [--summary TEXT] [--fast]\n",
               stderr);
}

bool Parse(int argc, char** argv, Options& o)
{
    static const option long_options[] = {
        {"output", required_argument, nullptr, 'o'}, {"duration", required_argument, nullptr, 'd'},
        {"size", required_argument, nullptr, 's'},   {"fps", required_argument, nullptr, 'f'},
        {"gop", required_argument, nullptr, 'g'},    {"channels", required_argument, nullptr, 'c'},
        {"picture-every", required_argument, nullptr, 'p'}, {"type", required_argument, nullptr, 't'},
        {"version", required_argument, nullptr, 'v'}, {"seed", required_argument, nullptr, 'r'},
        {"password", required_argument, nullptr, 'P'}, {"summary", required_argument, nullptr, 'S'},
        {"fast", no_argument, nullptr, 'F'},          {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "o:d:s:f:g:c:p:t:v:r:P:S:Fh", long_options, nullptr)) != -1) {
        switch (c) {
        case 'o': o.output = optarg; break;
        case 'd': o.durationS = std::atof(optarg); break;
        case 's':
            if (std::sscanf(optarg, "%dx%d", &o.width, &o.height) != 2)
                return false;
            break;
        case 'f': o.fps = std::atoi(optarg); break;
        case 'g': o.gop = std::atoi(optarg); break;
        case 'c': o.channels = std::atoi(optarg); break;
        case 'p': o.pictureEveryS = std::atoi(optarg); break;
        case 't': o.recordingType = static_cast<uint32_t>(std::atoi(optarg)); break;
        case 'v': o.version = static_cast<uint32_t>(std::atoi(optarg)); break;
        case 'r': o.seed = static_cast<uint32_t>(std::strtoul(optarg, nullptr, 10)); break;
        case 'P': o.password = optarg; break;
        case 'S': o.summary = optarg; break;
        case 'F': o.fast = true; break;
        default: return false;
        }
    }
    return !o.output.empty() && o.durationS > 0 && o.width > 0 && o.width <= 65535 && o.height > 0 &&
           o.height <= 65535 && o.fps > 0 && o.gop > 0 && o.channels >= 0 && o.channels <= 255;
}

// One record to write, ordered by play time.
struct Event {
    uint32_t timeMs;
    TRecordType type;
    int index; // frame number, packet number or picture number
    int channel;
};

std::vector<Event> Timeline(const Options& o)
{
    std::vector<Event> events;
    const auto durationMs = static_cast<uint32_t>(o.durationS * 1000);
    if (o.recordingType != static_cast<uint32_t>(TRecordingType::AudioOnly))
        for (int i = 0; static_cast<uint32_t>(i) * 1000 / o.fps < durationMs; ++i)
            events.push_back({static_cast<uint32_t>(i * 1000 / o.fps), TRecordType::rtVideo, i, 0});
    if (o.recordingType != static_cast<uint32_t>(TRecordingType::VideoOnly))
        for (int ch = 1; ch <= o.channels; ++ch)
            for (int i = 0; static_cast<uint32_t>(i) * AudioPacketMs < durationMs; ++i)
                events.push_back({static_cast<uint32_t>(i * AudioPacketMs + ch), TRecordType::rtAudio, i, ch});
    if (o.pictureEveryS > 0)
        for (int i = 0; static_cast<uint32_t>(i) * o.pictureEveryS * 1000 < durationMs; ++i)
            events.push_back({static_cast<uint32_t>(i * o.pictureEveryS * 1000 + 500), TRecordType::rtPicture, i, 0});
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.timeMs < b.timeMs; });
    return events;
}

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

// A start time that follows from the seed alone (a day and a time of day in 2024), so
// that the same seed gives the same file in any time zone and at any moment.
double StartTimeForSeed(uint32_t seed)
{
    TCalendarTime start;
    start.Year = 2024;
    start.Month = static_cast<int>(seed % 12) + 1;
    start.Day = static_cast<int>(seed / 12 % 28) + 1;
    start.Hour = static_cast<int>(seed / 336 % 9) + 9;
    start.Minute = static_cast<int>(seed * 7 % 60);
    start.Second = static_cast<int>(seed * 13 % 60);
    return CalendarToOleDate(start).value_or(45292.375);
}

RecordingHeader MakeHeader(const Options& o)
{
    RecordingHeader header;
    header.HeaderMagic = HeaderMagicValue;
    header.HeaderVersion = o.version;
    header.RecordingType = o.recordingType;
    header.VideoWidth = static_cast<uint32_t>(o.width);
    header.VideoHeight = static_cast<uint32_t>(o.height);
    header.StartTime = StartTimeForSeed(o.seed);
    header.NonZero40 = 1;
    header.NonZero44 = 1;
    header.RecordedSize = 1; // set by Finish
    header.TrailerMagic = TrailerMagicValue;
    // A password is stored as at most 16 bytes of the system code page, cut between
    // characters; the summary is cut so that its stored form decodes back whole.
    if (!o.password.empty())
        header.PasswordText.Assign(EncodePassword(ToSystemCodePage(CutToCodePageBytes(o.password, MaxPasswordBytes))));
    if (!o.summary.empty())
        header.SummaryText.Assign(EncodeSummary(CutSummaryForStorage(o.summary)));
    return header;
}

void WriteRandom(const Options& o, tools::RecordingWriter& writer)
{
    std::mt19937 random(o.seed);
    for (const Event& e : Timeline(o)) {
        if (e.type == TRecordType::rtAudio) {
            writer.AddAudio(e.timeMs, static_cast<uint8_t>(e.channel), RandomBytes(random, 16 + 3 * 70));
            continue;
        }
        FrameHeader frame;
        frame.FrameValue = static_cast<uint32_t>(e.index);
        if (e.type == TRecordType::rtVideo) {
            frame.FrameWidth = static_cast<uint16_t>(o.width);
            frame.FrameHeight = static_cast<uint16_t>(o.height);
            frame.FrameFlag = e.index % o.gop == 0 ? 1 : 0;
            writer.AddFrame(e.type, e.timeMs, frame, RandomBytes(random, frame.FrameFlag ? 12000 : 2500));
        } else {
            frame.FrameWidth = SlideWidth;
            frame.FrameHeight = SlideHeight;
            frame.FrameFlag = e.index % 4 == 3 ? 0 : 1; // every fourth picture hides the window
            writer.AddFrame(e.type, e.timeMs, frame, RandomBytes(random, 9000));
        }
    }
}

bool WriteMedia(const Options& o, tools::RecordingWriter& writer)
{
    const bool hasVideo = o.recordingType != static_cast<uint32_t>(TRecordingType::AudioOnly);
    std::unique_ptr<tools::H264Encoder> encoder;
    std::unique_ptr<TBitmap24> picture;
    if (hasVideo) {
        if (o.width % 2 != 0 || o.height % 2 != 0) {
            std::fputs("crdgen: the video size must be even\n", stderr);
            return false;
        }
        encoder = tools::H264Encoder::Create(o.width, o.height, o.fps, o.gop);
        if (!encoder) {
            std::fputs("crdgen: cannot open the H.264 encoder\n", stderr);
            return false;
        }
        picture = std::make_unique<TBitmap24>(o.width, o.height);
    }
    std::vector<std::unique_ptr<tools::TalkerPacketSource>> talkers;
    for (int ch = 1; ch <= o.channels; ++ch)
        talkers.push_back(std::make_unique<tools::TalkerPacketSource>(static_cast<uint8_t>(ch), o.seed));
    TBitmap24 slide(SlideWidth, SlideHeight);

    for (const Event& e : Timeline(o)) {
        if (e.type == TRecordType::rtAudio) {
            const auto syncTime = static_cast<uint32_t>(e.index * AudioPacketMs);
            const auto packet = talkers[static_cast<size_t>(e.channel - 1)]->NextPacket(syncTime);
            writer.AddAudio(e.timeMs, static_cast<uint8_t>(e.channel), packet);
            continue;
        }
        FrameHeader frame;
        frame.FrameValue = static_cast<uint32_t>(e.index);
        if (e.type == TRecordType::rtVideo) {
            tools::DrawTestPicture(*picture, static_cast<uint32_t>(e.index), e.timeMs);
            const tools::EncodedFrame encoded = encoder->Encode(*picture);
            if (encoded.Payload.empty()) {
                std::fprintf(stderr, "crdgen: the encoder gave no frame for frame %d\n", e.index);
                return false;
            }
            frame.FrameWidth = static_cast<uint16_t>(o.width);
            frame.FrameHeight = static_cast<uint16_t>(o.height);
            frame.FrameFlag = encoded.KeyFrame ? 1 : 0;
            writer.AddFrame(e.type, e.timeMs, frame, encoded.Payload);
        } else {
            tools::DrawSlide(slide, static_cast<uint32_t>(e.index + 1));
            const auto jpeg = tools::EncodeJpeg(slide);
            if (jpeg.empty()) {
                std::fputs("crdgen: cannot compress a slide\n", stderr);
                return false;
            }
            frame.FrameWidth = SlideWidth;
            frame.FrameHeight = SlideHeight;
            frame.FrameFlag = e.index % 4 == 3 ? 0 : 1; // every fourth picture hides the window
            writer.AddFrame(e.type, e.timeMs, frame, jpeg);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        Usage();
        return 2;
    }
    tools::RecordingWriter writer(o.output, MakeHeader(o));
    if (!writer.Ok()) {
        std::fprintf(stderr, "crdgen: cannot write %s\n", o.output.c_str());
        return 1;
    }
    if (o.fast)
        WriteRandom(o, writer);
    else if (!WriteMedia(o, writer))
        return 1;
    if (!writer.Finish()) {
        std::fprintf(stderr, "crdgen: cannot write %s\n", o.output.c_str());
        return 1;
    }
    std::printf("crdgen: wrote %s (%u records)\n", o.output.c_str(), writer.RecordCount());
    return 0;
}

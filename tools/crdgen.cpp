// crdgen: writes recordings for demos, tests and benchmarks.
//
//   crdgen -o demo.crd [--duration 60] [--size 640x480] [--fps 25] [--gop 50]
//          [--channels 2] [--picture-every 5] [--type 0] [--version 2] [--seed 1] [--fast]
//
// --fast writes random payloads of plausible sizes instead of encoded media: such files
// are for index-only stress tests and benchmarks, their frames decode to nothing.

#include "OleDateTime.h"
#include "RecordingWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <getopt.h>
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
    bool fast = false;
};

constexpr int AudioPacketMs = 60; // three 20 ms Speex frames per packet

void Usage()
{
    std::fputs("usage: crdgen -o FILE [--duration S] [--size WxH] [--fps N] [--gop N] [--channels N]\n"
               "              [--picture-every S] [--type 0|1|2] [--version N] [--seed N] [--fast]\n",
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
        {"fast", no_argument, nullptr, 'F'},          {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "o:d:s:f:g:c:p:t:v:r:Fh", long_options, nullptr)) != -1) {
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

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        Usage();
        return 2;
    }
    if (!o.fast) {
        std::fputs("crdgen: only --fast is available in this build\n", stderr);
        return 2;
    }
    std::mt19937 random(o.seed);
    RecordingHeader header;
    header.HeaderMagic = HeaderMagicValue;
    header.HeaderVersion = o.version;
    header.RecordingType = o.recordingType;
    header.VideoWidth = static_cast<uint32_t>(o.width);
    header.VideoHeight = static_cast<uint32_t>(o.height);
    header.StartTime = UnixTimeToOleDate(1'700'000'000 + static_cast<std::time_t>(o.seed));
    header.NonZero40 = 1;
    header.NonZero44 = 1;
    header.RecordedSize = 1; // set by Finish
    header.TrailerMagic = TrailerMagicValue;

    tools::RecordingWriter writer(o.output, header);
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
            frame.FrameWidth = 320;
            frame.FrameHeight = 240;
            frame.FrameFlag = e.index % 4 == 3 ? 0 : 1; // every fourth picture hides the window
            writer.AddFrame(e.type, e.timeMs, frame, RandomBytes(random, 9000));
        }
    }
    if (!writer.Finish()) {
        std::fprintf(stderr, "crdgen: cannot write %s\n", o.output.c_str());
        return 1;
    }
    std::printf("crdgen: wrote %s (%u records)\n", o.output.c_str(), writer.RecordCount());
    return 0;
}

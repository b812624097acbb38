// DecodeVideoFrame (payload read, decode, conversion to a bottom-up BGR picture, row flip
// into a new bitmap) against bare libavcodec decoding of the same frames.

#include "H264Encoder.h"
#include "RecordingWriter.h"
#include "UnitReadMan.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <filesystem>
#include <map>
#include <vector>

namespace {

constexpr int FrameCount = 200; // four key-frame intervals of 50 frames

struct Clip {
    std::string path;
    std::vector<std::vector<uint8_t>> payloads;
};

// A moving gradient with a moving box, encoded once per size and written as a recording.
const Clip& ClipOfSize(int width, int height)
{
    static std::map<std::pair<int, int>, Clip> clips;
    auto& clip = clips[{width, height}];
    if (!clip.path.empty())
        return clip;
    clip.path = (std::filesystem::temp_directory_path() /
                 ("qrv-bench-decode-" + std::to_string(width) + "x" + std::to_string(height) + ".crd"))
                    .string();
    auto encoder = qrv::tools::H264Encoder::Create(width, height, 25, 50);
    qrv::RecordingHeader header;
    header.HeaderMagic = qrv::HeaderMagicValue;
    header.HeaderVersion = 2;
    header.VideoWidth = static_cast<uint32_t>(width);
    header.VideoHeight = static_cast<uint32_t>(height);
    header.StartTime = 45000.5;
    header.NonZero40 = header.NonZero44 = header.RecordedSize = 1;
    header.TrailerMagic = qrv::TrailerMagicValue;
    qrv::tools::RecordingWriter writer(clip.path, header);
    qrv::TBitmap24 picture(width, height);
    for (int n = 0; n < FrameCount; ++n) {
        for (int y = 0; y < height; ++y) {
            uint8_t* row = picture.Row(y);
            for (int x = 0; x < width; ++x) {
                const bool box = std::abs(x - (n * 7) % width) < 60 && std::abs(y - height / 2) < 60;
                row[3 * x] = static_cast<uint8_t>(box ? 255 : x + n);
                row[3 * x + 1] = static_cast<uint8_t>(box ? 255 : y * 2);
                row[3 * x + 2] = static_cast<uint8_t>(box ? 0 : (x ^ y) + n);
            }
        }
        auto frame = encoder->Encode(picture);
        const qrv::FrameHeader fh{static_cast<uint32_t>(n), static_cast<uint16_t>(width), 0,
                                  static_cast<uint16_t>(height), 0, static_cast<uint8_t>(frame.KeyFrame ? 1 : 0)};
        writer.AddFrame(qrv::TRecordType::rtVideo, static_cast<uint32_t>(n * 40), fh, frame.Payload);
        clip.payloads.push_back(std::move(frame.Payload));
    }
    writer.Finish();
    return clip;
}

void BM_ReadManDecode(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    const Clip& clip = ClipOfSize(width, height);
    qrv::TReadMan reader;
    reader.Open(clip.path);
    int32_t index = 0, pictures = 0;
    for (auto _ : state) {
        auto bitmap = reader.DecodeVideoFrame(index);
        pictures += bitmap != nullptr;
        benchmark::DoNotOptimize(bitmap);
        index = (index + 1) % reader.Count();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["pictures"] = pictures;
}

void BM_BareDecode(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    const Clip& clip = ClipOfSize(width, height);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    avcodec_open2(context, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    size_t index = 0;
    for (auto _ : state) {
        auto& payload = clip.payloads[index];
        packet->data = const_cast<uint8_t*>(payload.data());
        packet->size = static_cast<int>(payload.size());
        avcodec_send_packet(context, packet);
        avcodec_receive_frame(context, frame);
        benchmark::DoNotOptimize(frame->data[0]);
        index = (index + 1) % clip.payloads.size();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_BareDecode)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadManDecode)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareDecode)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadManDecode)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();

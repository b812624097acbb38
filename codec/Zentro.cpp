// The Zentro library over libavcodec's H.264 decoder.
//
// Every channel number 0..255 has a fixed slot with its own lock, decoder context and
// converter, so channels never share state and a call on one channel never waits for
// another. Decoding runs single-threaded with low delay: the payloads carry no B-frames,
// so each access unit given yields its picture in the same call.

#include "Zentro.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int32_t ChannelCount = 256;
constexpr int32_t MaxSide = 16384;

struct Channel {
    std::mutex Lock;
    AVCodecContext* Context = nullptr;
    AVPacket* Packet = nullptr;
    AVFrame* Frame = nullptr;
    SwsContext* Converter = nullptr;
    std::vector<uint8_t> Picture; // the converted picture, top row first, before the flip
    int32_t Width = 0;
    int32_t Height = 0;

    bool Open() const { return Context != nullptr; }

    void Close()
    {
        sws_freeContext(Converter);
        Converter = nullptr;
        av_frame_free(&Frame);
        av_packet_free(&Packet);
        avcodec_free_context(&Context);
        std::vector<uint8_t>().swap(Picture);
        Width = 0;
        Height = 0;
    }
};

// Never destroyed, so that a channel closed from another static object's destructor at
// exit still finds its slot.
std::array<Channel, ChannelCount>& Channels()
{
    static auto* channels = new std::array<Channel, ChannelCount>();
    return *channels;
}

// libavcodec reports every damaged payload on standard error; the player's damaged
// recordings would flood it. Its messages are kept only when QRV_DEBUG is set.
void QuietLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::getenv("QRV_DEBUG") == nullptr)
            av_log_set_level(AV_LOG_QUIET);
    });
}

bool OpenChannel(Channel& ch, int32_t width, int32_t height)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr)
        return false;
    ch.Context = avcodec_alloc_context3(codec);
    if (ch.Context == nullptr)
        return false;
    ch.Context->thread_count = 1;
    ch.Context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    ch.Context->err_recognition |= AV_EF_EXPLODE;
    if (avcodec_open2(ch.Context, codec, nullptr) < 0)
        return false;
    ch.Packet = av_packet_alloc();
    ch.Frame = av_frame_alloc();
    if (ch.Packet == nullptr || ch.Frame == nullptr)
        return false;
    ch.Width = width;
    ch.Height = height;
    return true;
}

// Converts the decoded frame to blue-green-red at the channel's size (scaling when the
// stream's size differs) and writes it to `output` bottom row first: exactly
// width x height x 3 bytes, nothing beyond.
bool WritePicture(Channel& ch, const AVFrame& frame, uint8_t* output)
{
    if (frame.width <= 0 || frame.height <= 0)
        return false;
    ch.Converter = sws_getCachedContext(ch.Converter, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                        ch.Width, ch.Height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                        nullptr);
    if (ch.Converter == nullptr)
        return false;

    // The converter may write a little past the end of a row, so it works on its own
    // buffer with aligned, padded rows; only whole rows are then copied to `output`.
    const size_t row = static_cast<size_t>(ch.Width) * 3;
    const size_t stride = (row + 63) / 64 * 64;
    const size_t needed = stride * static_cast<size_t>(ch.Height) + 64;
    if (ch.Picture.size() < needed)
        ch.Picture.resize(needed);

    uint8_t* planes[4] = {ch.Picture.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(stride), 0, 0, 0};
    if (sws_scale(ch.Converter, frame.data, frame.linesize, 0, frame.height, planes, strides) != ch.Height)
        return false;

    for (int32_t y = 0; y < ch.Height; ++y)
        std::memcpy(output + static_cast<size_t>(y) * row, ch.Picture.data() + static_cast<size_t>(ch.Height - 1 - y) * stride,
                    row);
    return true;
}

bool ValidChannel(int32_t channel) { return channel >= 0 && channel < ChannelCount; }

} // namespace

extern "C" {

ZENTRO_API int32_t DecChannelCreation(int32_t channel, int32_t width, int32_t height, int32_t /*mode*/, int32_t /*flag*/)
{
    try {
        if (!ValidChannel(channel) || width <= 0 || height <= 0 || width > MaxSide || height > MaxSide)
            return 0;
        QuietLibraryLog();
        Channel& ch = Channels()[static_cast<size_t>(channel)];
        std::lock_guard<std::mutex> lock(ch.Lock);
        ch.Close(); // an open channel is opened afresh
        if (!OpenChannel(ch, width, height)) {
            ch.Close();
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

ZENTRO_API int32_t ZTDecoder(int32_t channel, const uint8_t* data, int32_t size, uint8_t* output)
{
    try {
        if (!ValidChannel(channel) || data == nullptr || size <= 0 || output == nullptr)
            return 0;
        Channel& ch = Channels()[static_cast<size_t>(channel)];
        std::lock_guard<std::mutex> lock(ch.Lock);
        if (!ch.Open())
            return 0;

        // av_new_packet adds the zeroed padding the bitstream reader needs after the data.
        if (av_new_packet(ch.Packet, size) < 0)
            return 0;
        std::memcpy(ch.Packet->data, data, static_cast<size_t>(size));
        const int sent = avcodec_send_packet(ch.Context, ch.Packet);
        av_packet_unref(ch.Packet);

        // Take every picture the decoder has ready; the last one is the frame's picture.
        // A picture that decoded only in part (damaged or cut-short payload, missing
        // reference) is not shown.
        bool wrote = false;
        while (avcodec_receive_frame(ch.Context, ch.Frame) == 0) {
            const bool damaged = ch.Frame->decode_error_flags != 0 || (ch.Frame->flags & AV_FRAME_FLAG_CORRUPT) != 0;
            if (!damaged && WritePicture(ch, *ch.Frame, output))
                wrote = true;
            av_frame_unref(ch.Frame);
        }
        if (sent < 0 && !wrote)
            return 0;
        return wrote ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ZENTRO_API int32_t DecChannelEnd(int32_t channel)
{
    try {
        if (!ValidChannel(channel))
            return 0;
        Channel& ch = Channels()[static_cast<size_t>(channel)];
        std::lock_guard<std::mutex> lock(ch.Lock);
        const bool wasOpen = ch.Open();
        ch.Close();
        return wasOpen ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // extern "C"

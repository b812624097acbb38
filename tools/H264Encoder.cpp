#include "H264Encoder.h"

#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace qrv::tools {

struct H264Encoder::State {
    AVCodecContext* Context = nullptr;
    AVFrame* Frame = nullptr;
    AVPacket* Packet = nullptr;
    SwsContext* Converter = nullptr;
    int Width = 0;
    int Height = 0;
    int Gop = 1;
    int64_t FrameIndex = 0;

    ~State()
    {
        sws_freeContext(Converter);
        av_packet_free(&Packet);
        av_frame_free(&Frame);
        avcodec_free_context(&Context);
    }
};

std::unique_ptr<H264Encoder> H264Encoder::Create(int width, int height, int fps, int gop)
{
    if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0 || fps <= 0 || gop <= 0)
        return nullptr;

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr)
        return nullptr;
    // The encoder prints its statistics when closed; only errors are of interest here.
    if (std::getenv("QRV_DEBUG") == nullptr)
        av_log_set_level(AV_LOG_ERROR);

    auto state = std::make_unique<State>();
    state->Width = width;
    state->Height = height;
    state->Gop = gop;

    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (c == nullptr)
        return nullptr;
    state->Context = c;
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->gop_size = gop;
    c->max_b_frames = 0;
    c->thread_count = 1; // one thread: the same pictures give the same bytes
    // No global header: SPS and PPS travel in band, in front of every IDR access unit.
    c->flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;

    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "profile", "main", 0);
    // Key frames only where this encoder asks for them (every gop-th frame), always IDR,
    // each with its own SPS and PPS; plain Annex B start codes.
    av_opt_set(c->priv_data, "forced-idr", "1", 0);
    av_opt_set(c->priv_data, "x264-params", "repeat-headers=1:scenecut=0:annexb=1:aud=0:log=1", 0);

    if (avcodec_open2(c, codec, nullptr) < 0)
        return nullptr;

    state->Frame = av_frame_alloc();
    state->Packet = av_packet_alloc();
    if (state->Frame == nullptr || state->Packet == nullptr)
        return nullptr;
    state->Frame->format = AV_PIX_FMT_YUV420P;
    state->Frame->width = width;
    state->Frame->height = height;
    if (av_frame_get_buffer(state->Frame, 0) < 0)
        return nullptr;

    state->Converter = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P,
                                      SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (state->Converter == nullptr)
        return nullptr;

    std::unique_ptr<H264Encoder> encoder(new H264Encoder());
    encoder->m_state = std::move(state);
    return encoder;
}

H264Encoder::~H264Encoder() = default;

EncodedFrame H264Encoder::Encode(const TBitmap24& picture)
{
    EncodedFrame result;
    State& s = *m_state;
    if (picture.Width() != s.Width || picture.Height() != s.Height)
        return result;

    if (av_frame_make_writable(s.Frame) < 0)
        return result;
    const uint8_t* source[1] = {picture.Bits()};
    const int sourceStride[1] = {static_cast<int>(picture.Stride())};
    sws_scale(s.Converter, source, sourceStride, 0, s.Height, s.Frame->data, s.Frame->linesize);

    const bool key = s.FrameIndex % s.Gop == 0;
    s.Frame->pts = s.FrameIndex++;
    s.Frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

    if (avcodec_send_frame(s.Context, s.Frame) < 0)
        return result;
    // Zero-latency tuning without B-frames: the access unit comes out at once.
    if (avcodec_receive_packet(s.Context, s.Packet) == 0) {
        result.Payload.assign(s.Packet->data, s.Packet->data + s.Packet->size);
        result.KeyFrame = (s.Packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(s.Packet);
    }
    return result;
}

} // namespace qrv::tools

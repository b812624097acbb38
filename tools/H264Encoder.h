#pragma once

// Encodes pictures into the video payloads of recordings: H.264 through libavcodec's
// libx264 encoder, no B-frames, zero-latency tuning, each frame one Annex B access unit;
// every key frame is an IDR access unit that carries its SPS and PPS.

#include "Bitmap24.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qrv::tools {

struct EncodedFrame {
    std::vector<uint8_t> Payload;
    bool KeyFrame = false;
};

class H264Encoder {
public:
    // width and height must be even. gop = frames from one key frame to the next.
    // Answers none when the encoder cannot be opened.
    static std::unique_ptr<H264Encoder> Create(int width, int height, int fps, int gop);
    ~H264Encoder();

    // Encodes one picture of the encoder's size (top row first, blue-green-red). Every call
    // yields exactly one access unit (no delay).
    EncodedFrame Encode(const TBitmap24& picture);

private:
    H264Encoder() = default;
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace qrv::tools

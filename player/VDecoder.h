#pragma once

// TVDecoder: one decoder channel of the video codec library, opened for a fixed picture
// size. It takes a free channel number from a process-wide pool, turns compressed frames
// into new top-row-first bitmaps and gives the number back when destroyed.
//
// A channel's first frame through Decode must be a key frame (FrameFlag 1); until then
// Decode answers none without calling the library. Feed brings the channel's state
// forward without producing a picture and does not count as that first frame.
// Main thread only: the pool has no lock.
//
// Picture sizes come from file fields (up to 65535 x 65535). A decoder asked for a side of 0
// or less or above MaxPictureSide takes no channel number, opens no channel and allocates
// nothing: its ChannelNumber is -1, Decode answers none and Feed does nothing, without
// calling the library.

#include "Bitmap24.h"

#include <cstdint>
#include <memory>

namespace qrv {

// The three calls of the video codec library; tests substitute their own.
struct TVideoCodecLibrary {
    int32_t (*ChannelCreation)(int32_t channel, int32_t width, int32_t height, int32_t mode, int32_t flag);
    int32_t (*Decode)(int32_t channel, const uint8_t* data, int32_t size, uint8_t* output);
    int32_t (*ChannelEnd)(int32_t channel);
};

// The Zentro library the player links.
const TVideoCodecLibrary& ZentroLibrary();

class TVDecoder {
public:
    // The largest width or height a decoder accepts: an 8192 x 8192 picture takes 192 MiB,
    // and a decoder holds its output buffer plus, while working, a bitmap or feed buffer.
    static constexpr int32_t MaxPictureSide = 8192;
    static bool SizeAccepted(int32_t width, int32_t height);

    TVDecoder(int32_t width, int32_t flag, int32_t height, const TVideoCodecLibrary& library = ZentroLibrary());
    ~TVDecoder();
    TVDecoder(const TVDecoder&) = delete;
    TVDecoder& operator=(const TVDecoder&) = delete;

    // Decodes one frame into a new bitmap; none when the library wrote no picture.
    std::unique_ptr<TBitmap24> Decode(const uint8_t* data, int32_t size, uint8_t keyFlag);
    // Passes one frame to the library to advance the channel's state; no picture.
    void Feed(const uint8_t* data, int32_t size);

    int32_t ChannelNumber() const { return m_channel; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    int32_t LastResult() const { return m_lastResult; }
    bool Started() const { return m_started; }

    // How many channel numbers are in use in this process (the pool's size).
    static int32_t ChannelsInUse();

private:
    size_t BufferBytes() const;

    const TVideoCodecLibrary& m_library;
    int32_t m_channel = -1;
    int32_t m_mode = 1;
    int32_t m_width;
    int32_t m_height;
    int32_t m_lastResult = 0;
    bool m_started = false;
    std::unique_ptr<uint8_t[]> m_output; // width x height x 3, where the library writes
};

} // namespace qrv

#pragma once

// TSpeexLib: one Speex decoder with its own bit buffer and output buffer. The mixer keeps
// one per channel so that every talker's bit stream keeps its own decoder state.

#include "speex.h"

#include <cstdint>
#include <vector>

namespace qrv {

class TSpeexLib {
public:
    TSpeexLib() = default;
    ~TSpeexLib();
    TSpeexLib(const TSpeexLib&) = delete;
    TSpeexLib& operator=(const TSpeexLib&) = delete;

    // Mode id used by the next InitDecoder: 0 narrowband, 1 wideband, 2 ultra-wideband.
    uint8_t ModeId = 0;

    // Creates the decoder state in ModeId, perceptual enhancement on, and its output buffer
    // of one frame (FrameSize samples of 16-bit mono). False, with the decoder not ready,
    // when ModeId names no mode the library knows.
    bool InitDecoder();
    // Releases the decoder state and the output buffer; the decoder is no longer ready.
    void FreeDecoder();

    // Decodes the first Speex frame held in `data` into the output buffer; bytes after that
    // frame are not used. Answers the library's result (0 = decoded, -1 = end of stream,
    // -2 = corrupt); the output buffer keeps whatever the call left in it either way.
    int Decode(const uint8_t* data, int length);

    bool DecoderReady() const { return FDecoderReady; }
    int32_t SamplingRate() const { return FSamplingRate; }
    int32_t FrameSize() const { return FFrameSize; }
    // FrameSize x 2: one frame of 16-bit samples.
    int32_t OutputBytes() const { return FOutputBytes; }
    const uint8_t* OutputBuffer() const { return reinterpret_cast<const uint8_t*>(FOutput.data()); }

private:
    bool FDecoderReady = false;
    SpeexBits FBits{};
    void* FDecoderState = nullptr;
    int32_t FSamplingRate = 8000;
    int32_t FFrameSize = 0;
    int32_t FOutputBytes = 0;
    std::vector<spx_int16_t> FOutput;
};

} // namespace qrv

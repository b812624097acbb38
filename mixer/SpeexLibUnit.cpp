#include "SpeexLibUnit.h"

namespace qrv {

TSpeexLib::~TSpeexLib()
{
    if (FDecoderReady)
        FreeDecoder();
}

bool TSpeexLib::InitDecoder()
{
    if (FDecoderReady)
        FreeDecoder();
    const SpeexMode* mode = speex_lib_get_mode(ModeId);
    if (mode == nullptr)
        return false;
    void* state = speex_decoder_init(mode);
    if (state == nullptr)
        return false;

    FDecoderReady = true;
    speex_bits_init(&FBits);
    FDecoderState = state;
    spx_int32_t rate = 8000;
    spx_int32_t frameSize = 0;
    speex_decoder_ctl(FDecoderState, SPEEX_GET_SAMPLING_RATE, &rate);
    speex_decoder_ctl(FDecoderState, SPEEX_GET_FRAME_SIZE, &frameSize);
    spx_int32_t enhance = 1;
    speex_decoder_ctl(FDecoderState, SPEEX_SET_ENH, &enhance);
    FSamplingRate = rate;
    FFrameSize = frameSize;
    FOutputBytes = frameSize * 2;
    FOutput.assign(static_cast<size_t>(frameSize), 0);
    return true;
}

void TSpeexLib::FreeDecoder()
{
    if (!FDecoderReady)
        return;
    FDecoderReady = false;
    speex_bits_destroy(&FBits);
    FBits = SpeexBits{};
    if (FDecoderState != nullptr)
        speex_decoder_destroy(FDecoderState);
    FDecoderState = nullptr;
    FOutput.clear();
    FOutput.shrink_to_fit();
    FOutputBytes = 0;
}

int TSpeexLib::Decode(const uint8_t* data, int length)
{
    if (!FDecoderReady || data == nullptr || length <= 0)
        return -2;
    speex_bits_read_from(&FBits, reinterpret_cast<const char*>(data), length);
    return speex_decode_int(FDecoderState, &FBits, FOutput.data());
}

} // namespace qrv

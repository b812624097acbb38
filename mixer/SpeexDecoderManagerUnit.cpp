#include "SpeexDecoderManagerUnit.h"

namespace qrv {

TSpeexDecoderManager::TSpeexDecoderManager()
{
    for (int32_t i = 1; i <= MaxChannel; ++i)
        FDecoders[static_cast<size_t>(i)] = std::make_unique<TSpeexLib>();
}

TSpeexDecoderManager::~TSpeexDecoderManager()
{
    for (int32_t i = MaxChannel; i >= 1; --i) {
        auto& slot = FDecoders[static_cast<size_t>(i)];
        if (slot && slot->DecoderReady())
            slot->FreeDecoder();
        slot.reset();
    }
}

bool TSpeexDecoderManager::DecodeFrame(int32_t channel, const uint8_t* data, int32_t length,
                                       uint32_t& pcmBytes, const uint8_t*& pcm)
{
    if (channel < 1 || channel > MaxChannel || data == nullptr || length < 1 || length > MaxFrameBytes)
        return false;
    TSpeexLib& decoder = *FDecoders[static_cast<size_t>(channel)];
    if (!decoder.DecoderReady()) {
        decoder.ModeId = FSpeexMode;
        if (!decoder.InitDecoder())
            return false;
    }
    decoder.Decode(data, length);
    pcmBytes = static_cast<uint32_t>(decoder.OutputBytes());
    pcm = decoder.OutputBuffer();
    return true;
}

const TSpeexLib* TSpeexDecoderManager::Decoder(int32_t channel) const
{
    if (channel < 1 || channel > MaxChannel)
        return nullptr;
    return FDecoders[static_cast<size_t>(channel)].get();
}

} // namespace qrv

#include "VDecoder.h"

#include "Zentro.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qrv {

namespace {

constexpr int32_t ChannelLimit = 256;

// The channel numbers in use in this process, as decimal texts ("0", "1", ...). Created by
// the first decoder, freed by the destruction that leaves it empty. Main thread only.
std::unique_ptr<std::vector<std::string>> ChannelNumbers;

// The smallest number 0..255 that no entry holds; -1 when all are taken.
int32_t FreeChannelNumber()
{
    for (int32_t n = 0; n < ChannelLimit; ++n) {
        const std::string text = std::to_string(n);
        if (std::find(ChannelNumbers->begin(), ChannelNumbers->end(), text) == ChannelNumbers->end())
            return n;
    }
    return -1;
}

} // namespace

const TVideoCodecLibrary& ZentroLibrary()
{
    static const TVideoCodecLibrary library{&DecChannelCreation, &ZTDecoder, &DecChannelEnd};
    return library;
}

bool TVDecoder::SizeAccepted(int32_t width, int32_t height)
{
    return width > 0 && height > 0 && width <= MaxPictureSide && height <= MaxPictureSide;
}

TVDecoder::TVDecoder(int32_t width, int32_t flag, int32_t height, const TVideoCodecLibrary& library)
    : m_library(library), m_width(width), m_height(height)
{
    m_started = false;
    m_mode = 1;
    m_lastResult = 0;
    // A size no picture can have (the reader takes sizes from file fields up to 65535 x
    // 65535) opens no channel and allocates nothing; such a decoder yields no pictures.
    if (!SizeAccepted(width, height))
        return;

    if (!ChannelNumbers)
        ChannelNumbers = std::make_unique<std::vector<std::string>>();
    m_channel = FreeChannelNumber();
    if (m_channel != -1) {
        ChannelNumbers->push_back(std::to_string(m_channel));
        try {
            m_library.ChannelCreation(m_channel, width, height, m_mode, flag);
        } catch (...) {
            // The result is not used; a failed opening shows as frames that decode to nothing.
        }
    }
    try {
        m_output.reset(new uint8_t[BufferBytes()]);
    } catch (...) {
        // Without a buffer the decoder yields no pictures and passes nothing to the library.
    }
}

TVDecoder::~TVDecoder()
{
    if (m_channel != -1) {
        try {
            m_library.ChannelEnd(m_channel);
        } catch (...) {
        }
        // The number returns to the pool even when the library failed to close the channel.
        if (ChannelNumbers) {
            const auto it = std::find(ChannelNumbers->begin(), ChannelNumbers->end(), std::to_string(m_channel));
            if (it != ChannelNumbers->end())
                ChannelNumbers->erase(it);
        }
    }
    if (ChannelNumbers && ChannelNumbers->empty())
        ChannelNumbers.reset();
}

size_t TVDecoder::BufferBytes() const
{
    return static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 3;
}

std::unique_ptr<TBitmap24> TVDecoder::Decode(const uint8_t* data, int32_t size, uint8_t keyFlag)
{
    if (!m_output)
        return nullptr;
    // A channel's first frame through Decode must be a key frame.
    if (!m_started && keyFlag != 1)
        return nullptr;
    m_started = true;
    try {
        m_lastResult = m_library.Decode(m_channel, data, size, m_output.get());
        if (m_lastResult <= 0)
            return nullptr;
        // The library writes the bottom row first; bitmaps keep the top row first.
        auto bitmap = std::make_unique<TBitmap24>(m_width, m_height);
        const size_t stride = bitmap->Stride();
        for (int32_t k = 0; k < m_height; ++k)
            std::copy_n(m_output.get() + static_cast<size_t>(k) * stride, stride, bitmap->Row(m_height - 1 - k));
        return bitmap;
    } catch (...) {
        return nullptr;
    }
}

void TVDecoder::Feed(const uint8_t* data, int32_t size)
{
    if (!m_output)
        return;
    try {
        std::unique_ptr<uint8_t[]> scratch(new uint8_t[BufferBytes()]);
        m_library.Decode(m_channel, data, size, scratch.get());
    } catch (...) {
        // Feeding only brings the channel's state forward; a failure there is not reported.
    }
}

int32_t TVDecoder::ChannelsInUse()
{
    return ChannelNumbers ? static_cast<int32_t>(ChannelNumbers->size()) : 0;
}

} // namespace qrv

// Feeds arbitrary bytes to the mixer's packet receiver in arbitrary read splits, as a
// connection would deliver them once the first second has passed, with the real Speex
// decoders behind it and a channel mixer that takes whatever it is given.
//
// Input: a sequence of reads, each two bytes of length (little-endian, up to 8193 and a
// bit more, so the "too much waiting" rule is reached) and then that many bytes.
// Each data packet's payload is walked in a buffer of exactly its size, so AddressSanitizer
// reports any read past a payload. After every read the bytes kept must stay below 8192.

#include "PacketReceiver.h"
#include "SpeexDecoderManagerUnit.h"

#include <cstdint>
#include <cstdlib>
#include <deque>

namespace {

class AcceptingMixer final : public qrv::IChannelMixer {
public:
    void SetInputFormat(const qrv::TWaveFormatRecord&) override {}
    void SetOutputFormat(const qrv::TWaveFormatRecord&) override {}
    void StartMixer() override { m_started = true; }
    void StopMixer() override { m_started = false; }
    void ClearMixer() override { m_started = false; }
    bool Started() const override { return m_started; }
    void WritePCM(int channel, const uint8_t* pcm, uint32_t bytes) override
    {
        // Touch every byte handed over, so a bad pointer or size shows.
        uint32_t sum = static_cast<uint32_t>(channel);
        for (uint32_t i = 0; i < bytes; ++i)
            sum += pcm[i];
        m_sink += sum;
    }
    void StopChannel(int) override {}

private:
    bool m_started = true;
    uint32_t m_sink = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static qrv::TSpeexDecoderManager decoders; // one per process, as in the mixer
    AcceptingMixer mixer;
    qrv::TPacketReceiver::Services services;
    services.Mixer = &mixer;
    services.Decoder = &decoders;
    services.TickCount = [] { return 0u; };
    qrv::TPacketReceiver receiver(std::move(services), -1, 3);

    std::deque<uint8_t> socket;
    auto read = [&socket](uint8_t* into, size_t max) {
        size_t n = 0;
        for (; n < max && !socket.empty(); ++n) {
            into[n] = socket.front();
            socket.pop_front();
        }
        return n;
    };
    receiver.ReadEvent(0, read); // the first read starts the defer period
    receiver.DeferStartTimerFired();

    size_t at = 0;
    while (at + 2 <= size) {
        const size_t length = (data[at] | (size_t{data[at + 1]} << 8)) % 8300;
        at += 2;
        const size_t take = std::min(length, size - at);
        socket.insert(socket.end(), data + at, data + at + take);
        at += take;
        receiver.ReadEvent(socket.size(), read);
        if (!socket.empty() || receiver.StreamSize() >= qrv::MAX_RECEIVE_BUFFER_SIZE ||
            receiver.StreamCapacityUsed() >= qrv::MAX_RECEIVE_BUFFER_SIZE)
            std::abort();
    }
    return 0;
}

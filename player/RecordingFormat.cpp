#include "RecordingFormat.h"

#include "ByteOrder.h"

#include <algorithm>

namespace qrv {

template <size_t Capacity>
void TShortString<Capacity>::Assign(std::string_view text)
{
    const size_t length = std::min(text.size(), Capacity);
    Chars.fill(0);
    std::copy_n(text.data(), length, Chars.begin());
    Length = static_cast<uint8_t>(length);
}
template struct TShortString<50>;
template struct TShortString<255>;

namespace {

// Walks a fixed byte buffer field by field, in file order.
class FieldReader {
public:
    explicit FieldReader(std::span<const uint8_t> bytes) : m_at(bytes.data()) {}

    template <typename T>
    T Get()
    {
        const T value = LoadLE<T>(m_at);
        m_at += sizeof(T);
        return value;
    }
    template <size_t N>
    void Get(std::array<char, N>& out)
    {
        std::copy_n(m_at, N, reinterpret_cast<uint8_t*>(out.data()));
        m_at += N;
    }
    template <size_t N>
    void Get(TShortString<N>& out)
    {
        out.Length = Get<uint8_t>();
        Get(out.Chars);
    }

private:
    const uint8_t* m_at;
};

class FieldWriter {
public:
    explicit FieldWriter(std::span<uint8_t> bytes) : m_at(bytes.data()) {}

    template <typename T>
    void Put(T value)
    {
        StoreLE<T>(m_at, value);
        m_at += sizeof(T);
    }
    template <size_t N>
    void Put(const std::array<char, N>& in)
    {
        std::copy_n(reinterpret_cast<const uint8_t*>(in.data()), N, m_at);
        m_at += N;
    }
    template <size_t N>
    void Put(const TShortString<N>& in)
    {
        Put<uint8_t>(in.Length);
        Put(in.Chars);
    }

private:
    uint8_t* m_at;
};

} // namespace

RecordingHeader ParseRecordingHeader(std::span<const uint8_t, RecordingHeaderSize> bytes)
{
    FieldReader in(bytes);
    RecordingHeader h;
    in.Get(h.HeaderMagic);
    h.HeaderVersion = in.Get<uint32_t>();
    h.RecordingType = in.Get<uint32_t>();
    h.Reserved12 = in.Get<uint32_t>();
    h.VideoWidth = in.Get<uint32_t>();
    h.VideoHeight = in.Get<uint32_t>();
    h.StartTime = in.Get<double>();
    h.EndTime = in.Get<double>();
    h.NonZero40 = in.Get<uint32_t>();
    h.NonZero44 = in.Get<uint32_t>();
    h.RecordedSize = in.Get<uint32_t>();
    h.Reserved52 = in.Get<uint32_t>();
    in.Get(h.PasswordText);
    in.Get(h.Text107);
    in.Get(h.SummaryText);
    h.Reserved619 = in.Get<uint32_t>();
    h.Reserved623 = in.Get<uint32_t>();
    in.Get(h.TrailerMagic);
    return h;
}

void SerializeRecordingHeader(const RecordingHeader& h, std::span<uint8_t, RecordingHeaderSize> bytes)
{
    FieldWriter out(bytes);
    out.Put(h.HeaderMagic);
    out.Put(h.HeaderVersion);
    out.Put(h.RecordingType);
    out.Put(h.Reserved12);
    out.Put(h.VideoWidth);
    out.Put(h.VideoHeight);
    out.Put(h.StartTime);
    out.Put(h.EndTime);
    out.Put(h.NonZero40);
    out.Put(h.NonZero44);
    out.Put(h.RecordedSize);
    out.Put(h.Reserved52);
    out.Put(h.PasswordText);
    out.Put(h.Text107);
    out.Put(h.SummaryText);
    out.Put(h.Reserved619);
    out.Put(h.Reserved623);
    out.Put(h.TrailerMagic);
}

RecordHeader ParseRecordHeader(std::span<const uint8_t, RecordHeaderSize> bytes)
{
    FieldReader in(bytes);
    RecordHeader h;
    in.Get(h.SyncWord);
    h.RecordType = in.Get<uint8_t>();
    h.TimeStamp = in.Get<double>();
    h.TimeDelta = in.Get<uint32_t>();
    h.BodySize = in.Get<uint32_t>();
    return h;
}

void SerializeRecordHeader(const RecordHeader& h, std::span<uint8_t, RecordHeaderSize> bytes)
{
    FieldWriter out(bytes);
    out.Put(h.SyncWord);
    out.Put(h.RecordType);
    out.Put(h.TimeStamp);
    out.Put(h.TimeDelta);
    out.Put(h.BodySize);
}

FrameHeader ParseFrameHeader(std::span<const uint8_t, FrameHeaderSize> bytes)
{
    FieldReader in(bytes);
    FrameHeader h;
    h.FrameValue = in.Get<uint32_t>();
    h.FrameWidth = in.Get<uint16_t>();
    h.Unread6 = in.Get<uint16_t>();
    h.FrameHeight = in.Get<uint16_t>();
    h.Unread10 = in.Get<uint16_t>();
    h.FrameFlag = in.Get<uint8_t>();
    return h;
}

void SerializeFrameHeader(const FrameHeader& h, std::span<uint8_t, FrameHeaderSize> bytes)
{
    FieldWriter out(bytes);
    out.Put(h.FrameValue);
    out.Put(h.FrameWidth);
    out.Put(h.Unread6);
    out.Put(h.FrameHeight);
    out.Put(h.Unread10);
    out.Put(h.FrameFlag);
}

THeaderFault FirstHeaderFault(const RecordingHeader& h)
{
    // "> 0.0" is false for NaN, so a NaN time fails as it should.
    if (h.HeaderMagic != HeaderMagicValue)
        return THeaderFault::HeaderMagic;
    if (h.TrailerMagic != TrailerMagicValue)
        return THeaderFault::TrailerMagic;
    if (h.RecordedSize == 0)
        return THeaderFault::RecordedSize;
    if (!(h.StartTime > 0.0))
        return THeaderFault::StartTime;
    if (!(h.EndTime > 0.0))
        return THeaderFault::EndTime;
    if (h.NonZero40 == 0)
        return THeaderFault::Field40;
    if (h.NonZero44 == 0)
        return THeaderFault::Field44;
    return THeaderFault::None;
}

const char* HeaderFaultText(THeaderFault fault)
{
    switch (fault) {
    case THeaderFault::None: return "valid";
    case THeaderFault::HeaderMagic: return "wrong header magic";
    case THeaderFault::TrailerMagic: return "wrong trailer magic";
    case THeaderFault::RecordedSize: return "recorded size is 0";
    case THeaderFault::StartTime: return "start time is not above 0";
    case THeaderFault::EndTime: return "end time is not above 0";
    case THeaderFault::Field40: return "field at offset 40 is 0";
    case THeaderFault::Field44: return "field at offset 44 is 0";
    }
    return "unknown";
}

} // namespace qrv

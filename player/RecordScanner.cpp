#include "RecordScanner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace qrv {

namespace {
constexpr size_t BufferSize = 256 * 1024; // bytes per pread; holds many headers of small records
constexpr size_t BufferAlignment = 64;   // copies into cache-line-aligned buffers run at full speed
constexpr size_t PageSize = 4096;        // reads start on page boundaries
} // namespace

void TRecordScanner::AlignedFree::operator()(uint8_t* p) const
{
    std::free(p);
}

TRecordScanner::TRecordScanner(int fd, uint64_t fileSize)
    : m_fd(fd), m_fileSize(fileSize),
      m_buffer(static_cast<uint8_t*>(std::aligned_alloc(BufferAlignment, BufferSize)))
{
    if (!m_buffer)
        m_ended = true;
}

TRecordScanner::~TRecordScanner() = default;

size_t TRecordScanner::Refill(uint64_t offset)
{
    m_bufferStart = offset - offset % PageSize;
    m_bufferLength = 0;
    while (m_bufferLength < BufferSize) {
        const ssize_t got = pread(m_fd, m_buffer.get() + m_bufferLength, BufferSize - m_bufferLength,
                                  static_cast<off_t>(m_bufferStart + m_bufferLength));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        m_bufferLength += static_cast<size_t>(got);
    }
    return m_bufferLength;
}

bool TRecordScanner::Next(TScannedRecord& record)
{
    if (m_ended || m_next >= m_fileSize) {
        m_ended = true;
        return false;
    }
    // The record header and the longest sub-header, read in place from the buffer; near the
    // end of the file through a copy in which the bytes the file does not hold are zero.
    constexpr size_t WindowSize = RecordHeaderSize + FrameHeaderSize;
    const uint8_t* at = nullptr;
    uint8_t window[WindowSize];
    if (m_next >= m_bufferStart && m_next + WindowSize <= m_bufferStart + m_bufferLength) {
        at = m_buffer.get() + (m_next - m_bufferStart);
    } else {
        Refill(m_next);
        const uint64_t end = m_bufferStart + m_bufferLength;
        const size_t held = m_next < end ? static_cast<size_t>(std::min<uint64_t>(WindowSize, end - m_next)) : 0;
        std::memset(window, 0, WindowSize);
        if (held > 0)
            std::memcpy(window, m_buffer.get() + (m_next - m_bufferStart), held);
        if (held < RecordHeaderSize) {
            m_ended = true;
            return false;
        }
        at = window;
    }
    record.Header = ParseRecordHeader(std::span<const uint8_t, RecordHeaderSize>(at, RecordHeaderSize));
    if (record.Header.SyncWord != RecordSyncWord) {
        m_ended = true;
        return false;
    }
    record.Offset = m_next;
    record.PayloadPos = m_next + RecordHeaderSize;
    const uint8_t* sub = at + RecordHeaderSize;
    switch (static_cast<TRecordType>(record.Header.RecordType)) {
    case TRecordType::rtAudio:
        record.AudioChannel = sub[0];
        record.PayloadPos += AudioChannelSize;
        break;
    case TRecordType::rtVideo:
    case TRecordType::rtPicture:
        record.Frame = ParseFrameHeader(std::span<const uint8_t, FrameHeaderSize>(sub, FrameHeaderSize));
        record.PayloadPos += FrameHeaderSize;
        break;
    default:
        break;
    }
    // The index keeps positions in 32 bits: a record beyond them cannot be played.
    if (record.PayloadPos > std::numeric_limits<uint32_t>::max()) {
        m_ended = true;
        return false;
    }
    m_next += RecordHeaderSize + uint64_t{record.Header.BodySize};
    return true;
}

} // namespace qrv

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

size_t TRecordScanner::Read(uint64_t offset, uint8_t* out, size_t size)
{
    const bool inBuffer = offset >= m_bufferStart && offset + size <= m_bufferStart + m_bufferLength;
    if (!inBuffer && offset < m_fileSize) {
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
    }
    size_t held = 0;
    if (offset >= m_bufferStart && offset < m_bufferStart + m_bufferLength)
        held = std::min<uint64_t>(size, m_bufferStart + m_bufferLength - offset);
    if (held > 0)
        std::memcpy(out, m_buffer.get() + (offset - m_bufferStart), held);
    std::memset(out + held, 0, size - held);
    return held;
}

bool TRecordScanner::Next(TScannedRecord& record)
{
    if (m_ended || m_next >= m_fileSize) {
        m_ended = true;
        return false;
    }
    uint8_t bytes[RecordHeaderSize];
    if (Read(m_next, bytes, RecordHeaderSize) < RecordHeaderSize) {
        m_ended = true;
        return false;
    }
    record.Header = ParseRecordHeader(bytes);
    if (record.Header.SyncWord != RecordSyncWord) {
        m_ended = true;
        return false;
    }
    record.Offset = m_next;
    record.PayloadPos = m_next + RecordHeaderSize;
    switch (static_cast<TRecordType>(record.Header.RecordType)) {
    case TRecordType::rtAudio:
        Read(record.PayloadPos, &record.AudioChannel, AudioChannelSize);
        record.PayloadPos += AudioChannelSize;
        break;
    case TRecordType::rtVideo:
    case TRecordType::rtPicture: {
        uint8_t frame[FrameHeaderSize];
        Read(record.PayloadPos, frame, FrameHeaderSize);
        record.Frame = ParseFrameHeader(frame);
        record.PayloadPos += FrameHeaderSize;
        break;
    }
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

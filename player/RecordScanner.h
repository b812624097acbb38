#pragma once

// Walks the records of a recording file in order, reading only the 21-byte record headers
// and the 1- or 13-byte sub-headers and skipping over payloads.
//
// The walk starts at offset 631 and ends at the end of the file, at the first position
// that holds fewer than 21 bytes or no "RcHd" sync word, or at a record whose payload would
// start beyond what a 32-bit index position can hold. A record whose body runs past the
// end of the file is still handed out (it is the last one); sub-header bytes the file does
// not hold read as zero.
//
// Reads go through one 64-byte-aligned buffer refilled with pread, so a walk costs about
// one system call per buffer of headers rather than one per field.

#include "RecordingFormat.h"

#include <cstdint>
#include <memory>

namespace qrv {

struct TScannedRecord {
    RecordHeader Header;
    uint64_t Offset = 0;      // file offset of the RecordHeader
    uint8_t AudioChannel = 0; // rtAudio only
    FrameHeader Frame;        // rtVideo and rtPicture only
    // File offset of the payload: after the channel byte or the FrameHeader; for other
    // record types, after the RecordHeader.
    uint64_t PayloadPos = 0;
};

class TRecordScanner {
public:
    // Walks the open file `fd` of `fileSize` bytes; the descriptor stays the caller's.
    TRecordScanner(int fd, uint64_t fileSize);
    ~TRecordScanner();
    TRecordScanner(const TRecordScanner&) = delete;
    TRecordScanner& operator=(const TRecordScanner&) = delete;

    // The next record; false when the walk has ended.
    bool Next(TScannedRecord& record);

private:
    // Fills the buffer from the page that holds `offset`; answers the bytes it got.
    size_t Refill(uint64_t offset);

    struct AlignedFree {
        void operator()(uint8_t* p) const;
    };

    int m_fd;
    uint64_t m_fileSize;
    uint64_t m_next = RecordingHeaderSize;
    bool m_ended = false;
    std::unique_ptr<uint8_t, AlignedFree> m_buffer;
    uint64_t m_bufferStart = 0; // file offset of m_buffer[0]
    size_t m_bufferLength = 0;  // valid bytes in the buffer
};

} // namespace qrv

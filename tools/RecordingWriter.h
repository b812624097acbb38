#pragma once

// Writes a recording file record by record, in play-time order. The header is written
// first as a placeholder and again by Finish, with the recorded size and end time filled in.

#include "RecordingFormat.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace qrv::tools {

class RecordingWriter {
public:
    // Creates (or truncates) the file at `path`; Ok() tells whether that worked.
    RecordingWriter(const std::string& path, const RecordingHeader& header);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    bool Ok() const { return m_file != nullptr && !m_failed; }

    // Each record is stamped with its play time in ms since the start; play times must not
    // decrease. TimeDelta is derived from them, TimeStamp from the header's StartTime.
    void AddAudio(uint32_t playTimeMs, uint8_t channel, std::span<const uint8_t> packet);
    void AddFrame(TRecordType type, uint32_t playTimeMs, const FrameHeader& frame, std::span<const uint8_t> payload);

    // Rewrites the header (RecordedSize = file size, EndTime = start + last play time) and
    // closes the file. True when every write succeeded.
    bool Finish();

    uint32_t RecordCount() const { return m_records; }

private:
    void AddRecord(uint8_t type, uint32_t playTimeMs, std::span<const uint8_t> subHeader,
                   std::span<const uint8_t> payload);
    void Write(const void* data, size_t size);

    std::FILE* m_file = nullptr;
    RecordingHeader m_header;
    uint32_t m_lastPlayTime = 0;
    uint64_t m_size = 0;
    uint32_t m_records = 0;
    bool m_failed = false;
};

} // namespace qrv::tools

#include "RecordingWriter.h"

#include <algorithm>
#include <limits>

namespace qrv::tools {

namespace {
constexpr double MsPerDay = 86'400'000.0;
}

RecordingWriter::RecordingWriter(const std::string& path, const RecordingHeader& header)
    : m_file(std::fopen(path.c_str(), "wb")), m_header(header)
{
    uint8_t bytes[RecordingHeaderSize];
    SerializeRecordingHeader(m_header, bytes);
    Write(bytes, sizeof bytes);
}

RecordingWriter::~RecordingWriter()
{
    if (m_file)
        std::fclose(m_file);
}

void RecordingWriter::Write(const void* data, size_t size)
{
    if (!m_file || m_failed)
        return;
    if (std::fwrite(data, 1, size, m_file) != size)
        m_failed = true;
    m_size += size;
}

void RecordingWriter::AddRecord(uint8_t type, uint32_t playTimeMs, std::span<const uint8_t> subHeader,
                                std::span<const uint8_t> payload)
{
    RecordHeader record;
    record.SyncWord = RecordSyncWord;
    record.RecordType = type;
    record.TimeStamp = m_header.StartTime + playTimeMs / MsPerDay;
    record.TimeDelta = playTimeMs - std::min(playTimeMs, m_lastPlayTime);
    record.BodySize = static_cast<uint32_t>(subHeader.size() + payload.size());
    m_lastPlayTime = std::max(playTimeMs, m_lastPlayTime);
    uint8_t bytes[RecordHeaderSize];
    SerializeRecordHeader(record, bytes);
    Write(bytes, sizeof bytes);
    Write(subHeader.data(), subHeader.size());
    Write(payload.data(), payload.size());
    ++m_records;
}

void RecordingWriter::AddAudio(uint32_t playTimeMs, uint8_t channel, std::span<const uint8_t> packet)
{
    AddRecord(static_cast<uint8_t>(TRecordType::rtAudio), playTimeMs, std::span<const uint8_t>(&channel, 1), packet);
}

void RecordingWriter::AddFrame(TRecordType type, uint32_t playTimeMs, const FrameHeader& frame,
                               std::span<const uint8_t> payload)
{
    uint8_t bytes[FrameHeaderSize];
    SerializeFrameHeader(frame, bytes);
    AddRecord(static_cast<uint8_t>(type), playTimeMs, bytes, payload);
}

bool RecordingWriter::Finish()
{
    if (!m_file)
        return false;
    m_header.RecordedSize = static_cast<uint32_t>(std::min<uint64_t>(m_size, std::numeric_limits<uint32_t>::max()));
    m_header.EndTime = m_header.StartTime + m_lastPlayTime / MsPerDay;
    uint8_t bytes[RecordingHeaderSize];
    SerializeRecordingHeader(m_header, bytes);
    if (std::fseek(m_file, 0, SEEK_SET) != 0)
        m_failed = true;
    const uint64_t size = m_size;
    Write(bytes, sizeof bytes);
    m_size = size;
    if (std::fclose(m_file) != 0)
        m_failed = true;
    m_file = nullptr;
    return !m_failed;
}

} // namespace qrv::tools

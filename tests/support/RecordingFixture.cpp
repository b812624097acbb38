#include "RecordingFixture.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace qrv::test {

RecordingFixture::RecordingFixture() : Header(ValidHeader()) {}

RecordingHeader RecordingFixture::ValidHeader()
{
    RecordingHeader h;
    h.HeaderMagic = HeaderMagicValue;
    h.HeaderVersion = PlayableHeaderVersion;
    h.RecordingType = 0;
    h.VideoWidth = 320;
    h.VideoHeight = 240;
    h.StartTime = 45000.25; // 2023-03-15 06:00
    h.EndTime = 45000.26;
    h.NonZero40 = 1;
    h.NonZero44 = 1;
    h.RecordedSize = 1000;
    h.TrailerMagic = TrailerMagicValue;
    return h;
}

size_t RecordingFixture::AddRecord(uint8_t type, uint32_t timeDelta, const std::vector<uint8_t>& body,
                                   double timeStamp)
{
    const size_t at = RecordingHeaderSize + m_records.size();
    RecordHeader record;
    record.SyncWord = RecordSyncWord;
    record.RecordType = type;
    record.TimeStamp = timeStamp;
    record.TimeDelta = timeDelta;
    record.BodySize = static_cast<uint32_t>(body.size());
    uint8_t bytes[RecordHeaderSize];
    SerializeRecordHeader(record, bytes);
    m_records.insert(m_records.end(), bytes, bytes + RecordHeaderSize);
    m_records.insert(m_records.end(), body.begin(), body.end());
    return at;
}

size_t RecordingFixture::AddAudio(uint32_t timeDelta, uint8_t channel, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> body{channel};
    body.insert(body.end(), payload.begin(), payload.end());
    return AddRecord(static_cast<uint8_t>(TRecordType::rtAudio), timeDelta, body);
}

static std::vector<uint8_t> FrameBody(uint8_t frameFlag, uint16_t width, uint16_t height,
                                      const std::vector<uint8_t>& payload, uint32_t frameValue)
{
    FrameHeader frame;
    frame.FrameValue = frameValue;
    frame.FrameWidth = width;
    frame.FrameHeight = height;
    frame.FrameFlag = frameFlag;
    std::vector<uint8_t> body(FrameHeaderSize);
    SerializeFrameHeader(frame, std::span<uint8_t, FrameHeaderSize>(body.data(), FrameHeaderSize));
    body.insert(body.end(), payload.begin(), payload.end());
    return body;
}

size_t RecordingFixture::AddVideo(uint32_t timeDelta, uint8_t frameFlag, uint16_t width, uint16_t height,
                                  const std::vector<uint8_t>& payload, uint32_t frameValue)
{
    return AddRecord(static_cast<uint8_t>(TRecordType::rtVideo), timeDelta,
                     FrameBody(frameFlag, width, height, payload, frameValue));
}

size_t RecordingFixture::AddPicture(uint32_t timeDelta, uint8_t frameFlag, uint16_t width, uint16_t height,
                                    const std::vector<uint8_t>& payload)
{
    return AddRecord(static_cast<uint8_t>(TRecordType::rtPicture), timeDelta,
                     FrameBody(frameFlag, width, height, payload, 0));
}

void RecordingFixture::AddGarbage(size_t count, uint8_t value)
{
    m_records.insert(m_records.end(), count, value);
}

void RecordingFixture::AddBytes(const std::vector<uint8_t>& bytes)
{
    m_records.insert(m_records.end(), bytes.begin(), bytes.end());
}

void RecordingFixture::CutLast(size_t count)
{
    m_records.resize(m_records.size() - std::min(count, m_records.size()));
}

void RecordingFixture::Patch(size_t offset, const std::vector<uint8_t>& bytes)
{
    m_patches.emplace_back(offset, bytes);
}

std::vector<uint8_t> RecordingFixture::Bytes() const
{
    std::vector<uint8_t> file(RecordingHeaderSize);
    SerializeRecordingHeader(Header, std::span<uint8_t, RecordingHeaderSize>(file.data(), RecordingHeaderSize));
    file.insert(file.end(), m_records.begin(), m_records.end());
    for (const auto& [offset, bytes] : m_patches) {
        if (offset + bytes.size() > file.size())
            file.resize(offset + bytes.size());
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<ptrdiff_t>(offset));
    }
    return file;
}

void RecordingFixture::WriteTo(const std::filesystem::path& path) const
{
    WriteBytes(path, Bytes());
}

void RecordingFixture::WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write fixture " + path.string());
}

std::vector<uint8_t> CountingBytes(size_t size, uint8_t first)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TempFolder::TempFolder()
{
    const char* base = std::getenv("TEST_TMPDIR");
    std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
    std::string pattern = (root / "qrv-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace qrv::test

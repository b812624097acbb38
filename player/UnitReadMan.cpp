#include "UnitReadMan.h"

#include "ByteOrder.h"
#include "JpegPicture.h"
#include "RecordScanner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrv {

namespace {

// Records between two yields of the processor during a scan. A yield costs up to a
// scheduler tick when another thread shares the core, so one per record would make the
// open of an hour's recording take minutes; one per batch still lets other threads run.
constexpr int32_t ScanYieldInterval = 16384;

bool IsRegularFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Reads up to `size` bytes at `offset`; answers how many the file held.
size_t ReadAt(int fd, uint8_t* out, size_t size, uint64_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool IsType(const TRecordInfo& entry, TRecordType type)
{
    return entry.RecordType == static_cast<uint8_t>(type);
}

} // namespace

TReadMan::TReadMan(const TVideoCodecLibrary& library) : m_library(library) {}

TReadMan::~TReadMan()
{
    FreeDecoder();
    Close();
}

bool TReadMan::ReadHeader(const std::string& fileName, RecordingHeader& header)
{
    header = RecordingHeader{};
    if (!IsRegularFile(fileName))
        return true;
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t bytes[RecordingHeaderSize];
    const size_t got = ReadAt(fd, bytes, sizeof bytes, 0);
    close(fd);
    if (got < 8 || std::memcmp(bytes, HeaderMagicValue.data(), 4) != 0)
        return true;
    const uint32_t version = LoadU32(bytes + 4);
    if ((version != 2 && version != 3) || got < RecordingHeaderSize)
        return true;
    const RecordingHeader read = ParseRecordingHeader(bytes);
    // Everything is taken as read except the short strings, of which only the meaningful
    // characters are copied (the password's length capped at its capacity of 50).
    header = read;
    header.PasswordText = {};
    header.PasswordText.Assign(read.PasswordText.Text());
    header.Text107 = {};
    header.Text107.Assign(read.Text107.Text());
    header.SummaryText = {};
    header.SummaryText.Assign(read.SummaryText.Text());
    if (!IsValidHeader(header))
        header = RecordingHeader{};
    return true;
}

bool TReadMan::Open(const std::string& fileName)
{
    CancelScan = true;
    if (m_isOpen)
        Close();
    if (!IsRegularFile(fileName))
        return false;
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    fstat(fd, &info);
    m_fd = fd;
    m_fileSize = static_cast<uint64_t>(info.st_size);
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_fileName = fileName;
    uint8_t bytes[RecordingHeaderSize];
    const size_t got = ReadAt(fd, bytes, sizeof bytes, 0);
    m_header = got == RecordingHeaderSize ? ParseRecordingHeader(bytes) : RecordingHeader{};
    if (!IsValidHeader(m_header)) {
        close(m_fd);
        m_fd = -1;
        m_header = RecordingHeader{};
        m_fileName.clear();
        return false;
    }
    m_isOpen = true;
    Scan();
    if (!m_decoder)
        CreateDecoder(static_cast<int32_t>(m_header.VideoWidth), static_cast<int32_t>(m_header.VideoHeight));
    return true;
}

bool TReadMan::Scan()
{
    CancelScan = false;
    m_records.Clear();
    m_keys.Clear();
    struct stat info {};
    if (m_fd < 0 || fstat(m_fd, &info) != 0)
        return true;
    const bool keepKeys = m_header.RecordingType != static_cast<uint32_t>(TRecordingType::AudioOnly);
    uint8_t pictureShown = 0;
    uint32_t playTime = 0;
    m_fileSize = static_cast<uint64_t>(info.st_size);
    TRecordScanner scanner(m_fd, m_fileSize);
    TScannedRecord r;
    for (int32_t visited = 0;; ++visited) {
        if (visited % ScanYieldInterval == ScanYieldInterval - 1)
            sched_yield();
        if (CancelScan.load(std::memory_order_relaxed) || !scanner.Next(r))
            break;
        playTime += r.Header.TimeDelta;
        TRecordInfo entry;
        entry.PayloadPos = static_cast<uint32_t>(r.PayloadPos);
        entry.PlayTime = playTime;
        entry.RecordType = r.Header.RecordType;
        entry.TimeStamp = r.Header.TimeStamp;
        switch (static_cast<TRecordType>(r.Header.RecordType)) {
        case TRecordType::rtAudio:
            entry.PayloadSize = r.Header.BodySize - AudioChannelSize;
            entry.AudioChannel = r.AudioChannel;
            entry.PictureShown = pictureShown;
            m_records.Add(&entry);
            break;
        case TRecordType::rtVideo:
        case TRecordType::rtPicture: {
            const bool picture = r.Header.RecordType == static_cast<uint8_t>(TRecordType::rtPicture);
            if (picture)
                pictureShown = r.Frame.FrameFlag != 0 ? 1 : 0;
            entry.PayloadSize = r.Header.BodySize - FrameHeaderSize;
            entry.FrameValue = r.Frame.FrameValue;
            entry.FrameWidth = r.Frame.FrameWidth;
            entry.FrameHeight = r.Frame.FrameHeight;
            entry.KeyFlag = r.Frame.FrameFlag;
            entry.PictureShown = pictureShown;
            const int32_t index = m_records.Add(&entry);
            if (!picture && keepKeys && IsKeyFrameFlag(r.Frame.FrameFlag)) {
                TKeyRecordInfo key;
                key.RecordIndex = static_cast<uint32_t>(index);
                m_keys.Add(&key);
            }
            break;
        }
        default:
            break; // skipped, but its TimeDelta counts
        }
    }
    return true;
}

void TReadMan::Close()
{
    if (!m_isOpen)
        return;
    CancelScan = true;
    m_isOpen = false;
    close(m_fd);
    m_fd = -1;
    if (m_headerModified) {
        // Only into the file that was opened, and only while it still is a recording.
        const int fd = open(m_fileName.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            struct stat info {};
            uint8_t magic[4];
            if (fstat(fd, &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode &&
                info.st_size >= static_cast<off_t>(RecordingHeaderSize) && ReadAt(fd, magic, 4, 0) == 4 &&
                std::memcmp(magic, HeaderMagicValue.data(), 4) == 0) {
                uint8_t bytes[RecordingHeaderSize];
                SerializeRecordingHeader(m_header, bytes);
                size_t done = 0;
                while (done < sizeof bytes) {
                    const ssize_t put = pwrite(fd, bytes + done, sizeof bytes - done, static_cast<off_t>(done));
                    if (put < 0 && errno == EINTR)
                        continue;
                    if (put <= 0)
                        break;
                    done += static_cast<size_t>(put);
                }
            }
            close(fd);
        }
        m_headerModified = false;
    }
    m_header = RecordingHeader{};
    m_fileName.clear();
}

const TRecordInfo* TReadMan::Entry(int32_t index) const
{
    if (index < 0 || index >= m_records.Count())
        return nullptr;
    return static_cast<const TRecordInfo*>(m_records.GetItem(index));
}

void TReadMan::GetRecordInfo(int32_t index, TRecordInfoView& view) const
{
    if (const TRecordInfo* entry = Entry(index))
        std::memcpy(&view, reinterpret_cast<const uint8_t*>(entry) + RecordInfoViewOffset, sizeof view);
}

std::optional<std::vector<uint8_t>> TReadMan::ReadPayload(const TRecordInfo& entry) const
{
    if (m_fd < 0 || entry.PayloadSize > MaxPayloadBytes)
        return std::nullopt;
    // Never allocate for bytes the file does not hold, beyond a small zero-filled tail.
    const uint64_t fileSize = m_fileSize;
    const uint64_t held = entry.PayloadPos < fileSize ? std::min<uint64_t>(entry.PayloadSize, fileSize - entry.PayloadPos) : 0;
    const uint64_t size = std::min<uint64_t>(entry.PayloadSize, held + MaxZeroFillBytes);
    std::vector<uint8_t> payload(size);
    ReadAt(m_fd, payload.data(), held, entry.PayloadPos);
    return payload;
}

void TReadMan::EnsureDecoder(int32_t width, int32_t height)
{
    if (!m_decoder || m_decoder->Width() != width || m_decoder->Height() != height)
        CreateDecoder(width, height);
}

std::unique_ptr<TBitmap24> TReadMan::DecodeVideoFrame(int32_t index)
{
    const TRecordInfo* entry = Entry(index);
    if (!entry || !IsType(*entry, TRecordType::rtVideo) || entry->FrameWidth == 0 || entry->FrameHeight == 0)
        return nullptr;
    EnsureDecoder(entry->FrameWidth, entry->FrameHeight);
    const auto payload = ReadPayload(*entry);
    if (!payload)
        return nullptr;
    return m_decoder->Decode(payload->data(), static_cast<int32_t>(payload->size()), entry->KeyFlag);
}

std::unique_ptr<TBitmap24> TReadMan::DecodeFromKeyFrame(int32_t index)
{
    const auto& entry = *static_cast<const TRecordInfo*>(m_records.GetItem(index)); // raises when out of range
    if (!IsType(entry, TRecordType::rtVideo) || entry.FrameWidth == 0 || entry.FrameHeight == 0)
        return nullptr;
    EnsureDecoder(entry.FrameWidth, entry.FrameHeight);
    int32_t k = index;
    while (k > 0) {
        const TRecordInfo* candidate = Entry(k);
        if (IsType(*candidate, TRecordType::rtVideo) && IsKeyFrameFlag(candidate->KeyFlag))
            break;
        --k;
    }
    for (int32_t i = k; i < index; ++i) {
        const TRecordInfo* fed = Entry(i);
        if (!IsType(*fed, TRecordType::rtVideo))
            continue;
        if (const auto payload = ReadPayload(*fed))
            m_decoder->Feed(payload->data(), static_cast<int32_t>(payload->size()));
    }
    return DecodeVideoFrame(index);
}

std::unique_ptr<TBitmap24> TReadMan::ReadPicture(int32_t index)
{
    const TRecordInfo* entry = Entry(index);
    if (!entry || !IsType(*entry, TRecordType::rtPicture) || entry->FrameWidth == 0 || entry->FrameHeight == 0)
        return nullptr;
    const auto payload = ReadPayload(*entry);
    if (!payload)
        return nullptr;
    return DecodeJpeg(payload->data(), payload->size());
}

std::optional<std::vector<uint8_t>> TReadMan::ReadAudioPayload(int32_t index)
{
    const TRecordInfo* entry = Entry(index);
    if (!entry || !IsType(*entry, TRecordType::rtAudio))
        return std::nullopt;
    return ReadPayload(*entry);
}

int32_t TReadMan::FindVideoRecord(bool backwards, int32_t start) const
{
    // An index outside the list holds no video record.
    const auto isVideo = [this](int32_t i) {
        const TRecordInfo* entry = Entry(i);
        return entry && IsType(*entry, TRecordType::rtVideo);
    };
    int32_t i = start;
    if (backwards) {
        while (i > 0 && !isVideo(i))
            --i;
        return i >= 0 ? i : -1;
    }
    while (i < Count() && !isVideo(i))
        ++i;
    return i < Count() ? i : -1;
}

uint32_t TReadMan::TotalTime() const
{
    return static_cast<const TRecordInfo*>(m_records.GetItem(Count() - 1))->PlayTime;
}

void TReadMan::CreateDecoder(int32_t width, int32_t height)
{
    FreeDecoder();
    m_decoder = std::make_unique<TVDecoder>(width, 1, height, m_library);
}

void TReadMan::FreeDecoder()
{
    m_decoder.reset();
}

void TReadMan::ReplaceHeader(const RecordingHeader& header)
{
    m_header = header;
    m_headerModified = true;
}

} // namespace qrv

#pragma once

// Composes recording files byte by byte for tests: a header with any field set, records of
// every type (unknown types too), garbage after the records, a last record cut short.
//
//   RecordingFixture f;                  // a valid version-2 header, no records
//   f.Header.RecordingType = 2;
//   f.AddVideo(40, /*frameFlag=*/1, 320, 240, payload);
//   f.AddAudio(20, /*channel=*/3, packet);
//   f.AddGarbage(17);
//   f.WriteTo(path);

#include "RecordingFormat.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qrv::test {

class RecordingFixture {
public:
    RecordingFixture();

    // A header that passes the validity test: "QRV." ... "ZaPm", version 2, 320 x 240.
    static RecordingHeader ValidHeader();

    RecordingHeader Header;

    // A record of any type with a raw body; answers the offset of its RecordHeader.
    size_t AddRecord(uint8_t type, uint32_t timeDelta, const std::vector<uint8_t>& body, double timeStamp = 45000.5);
    size_t AddAudio(uint32_t timeDelta, uint8_t channel, const std::vector<uint8_t>& payload);
    size_t AddVideo(uint32_t timeDelta, uint8_t frameFlag, uint16_t width, uint16_t height,
                    const std::vector<uint8_t>& payload, uint32_t frameValue = 0);
    size_t AddPicture(uint32_t timeDelta, uint8_t frameFlag, uint16_t width, uint16_t height,
                      const std::vector<uint8_t>& payload);
    // Bytes after the last record that do not start with "RcHd".
    void AddGarbage(size_t count, uint8_t value = 0xA5);
    // Raw bytes at the end, for anything the helpers above do not compose.
    void AddBytes(const std::vector<uint8_t>& bytes);
    // Drops the last `count` bytes, cutting the last record short.
    void CutLast(size_t count);

    // The file: the header (as Header holds it now) and everything added.
    std::vector<uint8_t> Bytes() const;
    void WriteTo(const std::filesystem::path& path) const;
    static void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

    // Overwrites bytes of the finished file at `offset` (a header field the struct cannot
    // express, a broken sync word).
    void Patch(size_t offset, const std::vector<uint8_t>& bytes);

private:
    std::vector<uint8_t> m_records; // everything after the header
    std::vector<std::pair<size_t, std::vector<uint8_t>>> m_patches;
};

// A payload of `size` bytes counting up from `first`, so a test can tell payloads apart.
std::vector<uint8_t> CountingBytes(size_t size, uint8_t first = 0);

// A fresh, empty folder under the test temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace qrv::test

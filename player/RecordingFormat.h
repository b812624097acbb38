#pragma once

// The bytes of a recording file (.crd).
//
// A recording is a 631-byte RecordingHeader followed by records. Each record is a 21-byte
// RecordHeader and a body of BodySize bytes; the next record follows the body directly.
// There is no count and no end marker: the records end at the end of the file or at the
// first position without the "RcHd" sync word. Every number is little-endian and nothing
// is padded, so fields are read and written one by one, never by casting a struct.
//
// Audio body: one channel byte, then one packet of the audio protocol, unchanged.
// Video and picture body: a 13-byte FrameHeader, then the payload (an H.264 access unit in
// Annex B form, or a complete JPEG picture).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qrv {

enum class TRecordType : uint8_t {
    rtAudio = 1,
    rtVideo = 2,
    rtPicture = 3,
};

// RecordingType values of the header.
enum class TRecordingType : uint32_t {
    VideoAndAudio = 0,
    VideoOnly = 1,
    AudioOnly = 2,
};

// A length byte followed by Capacity character bytes in the system code page. Only
// Length of them are meaningful, but every byte is kept so that a header written back
// holds exactly the bytes it was read with.
template <size_t Capacity>
struct TShortString {
    uint8_t Length = 0;
    std::array<char, Capacity> Chars{};

    static constexpr size_t StoredSize = Capacity + 1;

    // The meaningful characters (the length byte capped at the capacity).
    std::string_view Text() const { return {Chars.data(), Length < Capacity ? Length : Capacity}; }
    // Stores `text`, cut to the capacity; the bytes after it become zero.
    void Assign(std::string_view text);

    bool operator==(const TShortString&) const = default;
};

inline constexpr size_t RecordingHeaderSize = 631;
inline constexpr size_t RecordHeaderSize = 21;
inline constexpr size_t FrameHeaderSize = 13;
inline constexpr size_t AudioChannelSize = 1;

inline constexpr std::array<char, 4> HeaderMagicValue{'Q', 'R', 'V', '.'};
inline constexpr std::array<char, 4> TrailerMagicValue{'Z', 'a', 'P', 'm'};
inline constexpr std::array<char, 4> RecordSyncWord{'R', 'c', 'H', 'd'};

// The version the player plays; the header-only read also accepts 3.
inline constexpr uint32_t PlayableHeaderVersion = 2;

struct RecordingHeader {
    std::array<char, 4> HeaderMagic{};      // 0: "QRV."
    uint32_t HeaderVersion = 0;             // 4
    uint32_t RecordingType = 0;             // 8: TRecordingType
    uint32_t Reserved12 = 0;                // 12: kept, not interpreted
    uint32_t VideoWidth = 0;                // 16
    uint32_t VideoHeight = 0;               // 20
    double StartTime = 0;                   // 24: date-time
    double EndTime = 0;                     // 32: date-time
    uint32_t NonZero40 = 0;                 // 40: must not be 0, not interpreted
    uint32_t NonZero44 = 0;                 // 44: must not be 0, not interpreted
    uint32_t RecordedSize = 0;              // 48: bytes, as the recorder stated them
    uint32_t Reserved52 = 0;                // 52
    TShortString<50> PasswordText;          // 56: digits, three per password byte
    TShortString<255> Text107;              // 107: kept, not interpreted
    TShortString<255> SummaryText;          // 363: Base64 of the UTF-8 summary
    uint32_t Reserved619 = 0;               // 619
    uint32_t Reserved623 = 0;               // 623
    std::array<char, 4> TrailerMagic{};     // 627: "ZaPm"

    bool operator==(const RecordingHeader&) const = default;
};

struct RecordHeader {
    std::array<char, 4> SyncWord{}; // 0: "RcHd"
    uint8_t RecordType = 0;         // 4: TRecordType, or a type the player skips
    double TimeStamp = 0;           // 5: date-time of the record
    uint32_t TimeDelta = 0;         // 13: ms since the previous record (first: its play time)
    uint32_t BodySize = 0;          // 17: bytes after this header that belong to the record

    bool operator==(const RecordHeader&) const = default;
};

struct FrameHeader {
    uint32_t FrameValue = 0;  // 0: copied into the index, not interpreted
    uint16_t FrameWidth = 0;  // 4
    uint16_t Unread6 = 0;     // 6: not read by the player
    uint16_t FrameHeight = 0; // 8
    uint16_t Unread10 = 0;    // 10: not read by the player
    uint8_t FrameFlag = 0;    // 12: video: 1 = key frame; picture: non-zero = shown

    bool operator==(const FrameHeader&) const = default;
};

RecordingHeader ParseRecordingHeader(std::span<const uint8_t, RecordingHeaderSize> bytes);
void SerializeRecordingHeader(const RecordingHeader& header, std::span<uint8_t, RecordingHeaderSize> bytes);

RecordHeader ParseRecordHeader(std::span<const uint8_t, RecordHeaderSize> bytes);
void SerializeRecordHeader(const RecordHeader& header, std::span<uint8_t, RecordHeaderSize> bytes);

FrameHeader ParseFrameHeader(std::span<const uint8_t, FrameHeaderSize> bytes);
void SerializeFrameHeader(const FrameHeader& header, std::span<uint8_t, FrameHeaderSize> bytes);

// Why a header is not a recording's; the checks run in this order and the first failure wins.
enum class THeaderFault {
    None,
    HeaderMagic,  // not "QRV."
    TrailerMagic, // not "ZaPm"
    RecordedSize, // 0
    StartTime,    // not above 0.0 (NaN included)
    EndTime,      // not above 0.0 (NaN included)
    Field40,      // 0
    Field44,      // 0
};

THeaderFault FirstHeaderFault(const RecordingHeader& header);
inline bool IsValidHeader(const RecordingHeader& header) { return FirstHeaderFault(header) == THeaderFault::None; }
const char* HeaderFaultText(THeaderFault fault);

// Video records whose FrameFlag is exactly 1 are key frames.
inline bool IsKeyFrameFlag(uint8_t frameFlag) { return frameFlag == 1; }

} // namespace qrv

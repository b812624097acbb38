#pragma once

// The index of a recording: one TRecordInfo per record, in file order.

#include "UnitFixListMemory.h"

#include <cstddef>
#include <cstdint>

namespace qrv {

#pragma pack(push, 1)

// What the reader hands out about a record: the middle 32 bytes of a TRecordInfo.
struct TRecordInfoView {
    uint32_t PayloadPos = 0;  // file offset of the payload (after the channel byte or FrameHeader)
    uint32_t PayloadSize = 0; // BodySize - 1 for audio, BodySize - 13 for video and pictures
    uint32_t PlayTime = 0;    // ms since the start of the recording
    uint32_t FrameValue = 0;  // from the FrameHeader; 0 for audio
    uint16_t FrameWidth = 0;  // from the FrameHeader; 0 for audio
    uint16_t FrameHeight = 0; // from the FrameHeader; 0 for audio
    uint8_t RecordType = 0;   // TRecordType
    uint8_t AudioChannel = 0; // audio records only
    uint8_t KeyFlag = 0;      // video records only: the FrameFlag
    uint8_t PictureShown = 0; // 0 or 1: the picture-shown state in force at this record
    double TimeStamp = 0;     // the record's date-time
};

// One index entry: the view between a "RcHd" sync and a "KxIx" tag.
struct TRecordInfo {
    char Sync[4] = {'R', 'c', 'H', 'd'};
    uint32_t PayloadPos = 0;
    uint32_t PayloadSize = 0;
    uint32_t PlayTime = 0;
    uint32_t FrameValue = 0;
    uint16_t FrameWidth = 0;
    uint16_t FrameHeight = 0;
    uint8_t RecordType = 0;
    uint8_t AudioChannel = 0;
    uint8_t KeyFlag = 0;
    uint8_t PictureShown = 0;
    double TimeStamp = 0;
    char Tag[4] = {'K', 'x', 'I', 'x'};
};

#pragma pack(pop)

static_assert(sizeof(TRecordInfoView) == 32);
static_assert(sizeof(TRecordInfo) == 40);
static_assert(offsetof(TRecordInfo, PayloadPos) == 4);
static_assert(offsetof(TRecordInfo, PayloadSize) == 8);
static_assert(offsetof(TRecordInfo, PlayTime) == 12);
static_assert(offsetof(TRecordInfo, FrameValue) == 16);
static_assert(offsetof(TRecordInfo, FrameWidth) == 20);
static_assert(offsetof(TRecordInfo, FrameHeight) == 22);
static_assert(offsetof(TRecordInfo, RecordType) == 24);
static_assert(offsetof(TRecordInfo, AudioChannel) == 25);
static_assert(offsetof(TRecordInfo, KeyFlag) == 26);
static_assert(offsetof(TRecordInfo, PictureShown) == 27);
static_assert(offsetof(TRecordInfo, TimeStamp) == 28);
static_assert(offsetof(TRecordInfo, Tag) == 36);
static_assert(offsetof(TRecordInfoView, TimeStamp) == offsetof(TRecordInfo, TimeStamp) - 4);

inline constexpr size_t RecordInfoViewOffset = offsetof(TRecordInfo, PayloadPos);

class TRecordInfoList : public TFixListMemory {
public:
    TRecordInfoList();

    // Copies entry `index` to `entry` and answers its place in the list;
    // EListOutOfRange for an index out of range.
    TRecordInfo* Get(int32_t index, TRecordInfo& entry) const;

    // Orders two entries by TimeStamp at the precision CompareMode selects: 1 minutes,
    // 2 seconds, 3 milliseconds, anything else the exact values. Answers 1, 0 or -1.
    int32_t Compare(const void* a, const void* b) const override;

    uint8_t CompareMode = 0;
};

} // namespace qrv

#pragma once

// The key-frame index of a recording: the record index of every video key frame, increasing.

#include "UnitFixListMemory.h"

#include <cstddef>
#include <cstdint>

namespace qrv {

#pragma pack(push, 1)
struct TKeyRecordInfo {
    char Sync[4] = {'R', 'c', 'H', 'd'};
    uint32_t RecordIndex = 0; // index in the record list of a video key frame
    char Tag[4] = {'K', 'x', 'I', 'x'};
};
#pragma pack(pop)

static_assert(sizeof(TKeyRecordInfo) == 12);
static_assert(offsetof(TKeyRecordInfo, RecordIndex) == 4);
static_assert(offsetof(TKeyRecordInfo, Tag) == 8);

class TKeyRecordInfoList : public TFixListMemory {
public:
    TKeyRecordInfoList();
};

} // namespace qrv

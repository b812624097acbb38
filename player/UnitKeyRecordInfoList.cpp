#include "UnitKeyRecordInfoList.h"

namespace qrv {

TKeyRecordInfoList::TKeyRecordInfoList() : TFixListMemory(sizeof(TKeyRecordInfo), 10000) {}

} // namespace qrv

#pragma once

// The mixer's diagnostic log as its units see it: one time-stamped line per call.
// TDebugInfo (_qrv_DebugInfo.h) writes it to the log file; tests record the lines.
// May be called from any thread.

#include <string>

namespace qrv {

class IMixerLog {
public:
    virtual ~IMixerLog() = default;
    // Appends `text` as one line (with the context lines after it when `withContext`).
    // True when the line was written; a failure is silent.
    virtual bool WriteLog(const std::string& text, bool withContext) = 0;
};

} // namespace qrv

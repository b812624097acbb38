#pragma once

// TDebugInfo: the mixer's diagnostic log file. Each line is appended as
//
//   <local date in the locale's short form> <local time in its long form> : <text> CR LF
//
// and the file is opened and closed for every line, so that a line written just before the
// process dies is on disk. The file never grows much beyond 10,000,000 bytes: a file larger
// than that is emptied before the next line is written. Lines from several threads are
// serialised by a lock.

#include "MixerLog.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace qrv {

class TDebugInfo final : public IMixerLog {
public:
    static constexpr uint64_t MaxLogBytes = 10'000'000; // a larger file is emptied first

    // `path` is trimmed of surrounding blanks. Nothing is opened here.
    explicit TDebugInfo(const std::string& path);

    // With context the line is followed by the context lines (each ending in CR LF) and one
    // more CR LF. True when the whole line was written; false (and nothing reported) when
    // the file cannot be opened, emptied or written.
    bool WriteLog(const std::string& text, bool withContext) override;

    const std::string& Path() const { return FPath; }

    // The line WriteLog would write at local time `when`.
    std::string ComposeLine(const std::string& text, bool withContext, std::time_t when) const;

private:
    std::string FPath;
    mutable std::mutex FLock;
    std::vector<std::string> FContextLines; // none in the mixer
};

} // namespace qrv

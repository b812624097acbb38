#pragma once

// The programs' debug output: diagnostic lines for a developer, off by default.

#include <string_view>

namespace qrv {

// Writes `line` and a line end to standard error when the environment variable QRV_DEBUG
// is set (to anything, even empty); otherwise does nothing. The variable is read once, at
// the first call. Line ends inside `line` become blanks and trailing ones are dropped, so
// one call gives exactly one line; the line goes out in one write, so lines from several
// threads never interleave. Any thread.
void OutputDebugString(std::string_view line);

// Reads QRV_DEBUG again at the next call, for tests that change it.
void ReloadDebugOutputSwitchForTests();

} // namespace qrv

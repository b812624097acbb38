#pragma once

// The system tick count: milliseconds of a monotonic clock as an unsigned 32-bit number.
// It wraps to 0 about every 49.7 days, so callers compare ticks only by unsigned
// difference (`now - then`), never by `<`.

#include <cstdint>

namespace qrv {

// Milliseconds of the steady clock plus the test offset, modulo 2^32. Any thread.
uint32_t GetTickCount();

// Adds `offset` to every later GetTickCount (0 undoes it), so that a test can put the
// count just before the wrap. Production code never calls it.
void SetTickCountOffsetForTests(uint32_t offset);

} // namespace qrv

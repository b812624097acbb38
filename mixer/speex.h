#pragma once

// The Speex codec library as the mixer uses it. The library is linked when the program is
// built (pkg-config "speex"), so there is nothing to look up by name at run time; the
// declarations come from the library's own headers, included here so that the mixer's
// units include one file.
//
// LoadSpeexLibraries keeps its role as the start-up gate: it asks the linked library for
// its three mode descriptions (narrowband, wideband, ultra-wideband) and remembers whether
// it answered. A library that cannot describe those modes cannot build the decoders the
// mixer needs, and the mixer does not start.
//
// The mixer calls eight functions of the library and nothing else: speex_lib_get_mode,
// speex_decoder_init, speex_decoder_ctl, speex_decoder_destroy, speex_decode_int,
// speex_bits_init, speex_bits_read_from and speex_bits_destroy.

#include <speex/speex.h>

#include <string>

namespace qrv {

// Name of the library the decoders come from, used in the start-up failure text.
inline constexpr const char* SpeexLibraryName = "libspeex.so";

// Checks the library once per process; later calls answer at once with the first result.
// True when the library describes all three modes. On failure `error` (when given) gets
// "Error: libspeex (libspeex.so) could not be loaded !!".
bool LoadSpeexLibraries(std::string* error = nullptr);

// The result of the check, without running it.
bool SpeexLibrariesLoaded();

} // namespace qrv

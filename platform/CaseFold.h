#pragma once

// Case-insensitive comparison of UTF-8 names and paths, the way the settings store and the
// recent-files list compare them: every character is mapped to its upper-case form with
// the C library's Unicode tables (the "C.UTF-8" locale, independent of the user's locale),
// so "Ä" matches "ä" as well as "A" matches "a". Bytes that are not well-formed UTF-8 are
// compared as they are. When the C.UTF-8 locale is not available, only ASCII letters fold.

#include <string>
#include <string_view>

namespace qrv {

// The folded form of `text`; two strings are equal ignoring case when their folded forms
// are equal.
std::string FoldCase(std::string_view text);

bool SameTextIgnoringCase(std::string_view a, std::string_view b);

} // namespace qrv

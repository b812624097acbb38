#pragma once

// The two encoded texts of a recording's header.
//
// PasswordText: the password's bytes in the system code page, each scrambled with a running
// 16-bit state and written as three decimal digits ("007"), so the stored text holds only
// the digits 0-9. A password of at most 16 bytes fits the 50 characters.
//
// SummaryText: the summary as UTF-8, then Base64 (RFC 4648 alphabet, "=" padding); the
// stored form holds at most 255 characters.

#include <cstddef>
#include <string>
#include <string_view>

namespace qrv {

// The most bytes a new password may have in the system code page.
inline constexpr size_t MaxPasswordBytes = 16;
// The most characters SummaryText stores, and the most UTF-8 bytes whose Base64 form fits.
inline constexpr size_t MaxStoredSummaryChars = 255;
inline constexpr size_t MaxSummaryUtf8Bytes = MaxStoredSummaryChars / 4 * 3; // 189

// Password bytes (system code page) -> digits, three per byte.
std::string EncodePassword(std::string_view codePageBytes);
// Digits -> password bytes. Groups of three from the start, the last one may be shorter;
// a group that is not a decimal number counts as 0.
std::string DecodePassword(std::string_view digits);

// UTF-8 text -> Base64. The caller stores it cut to 255 characters (see
// CutSummaryForStorage, which makes the cut unnecessary).
std::string EncodeSummary(std::string_view utf8);
// Stored form -> UTF-8 text: the Base64 decoding when that succeeds and gives valid UTF-8,
// else the stored characters themselves read in the system code page.
std::string DecodeSummary(std::string_view stored);

// The text cut at a character boundary so that its Base64 form fits 255 characters (at
// most 189 UTF-8 bytes); its stored form therefore always decodes back whole. A byte that
// is not part of a valid UTF-8 character becomes '?'.
std::string CutSummaryForStorage(std::string_view utf8);

// RFC 4648 Base64 with "=" padding. Decoding is strict: the length must be a multiple of
// four and every character from the alphabet, "=" only as the last one or two; answers
// false otherwise.
std::string Base64Encode(std::string_view bytes);
bool Base64Decode(std::string_view text, std::string& bytes);

} // namespace qrv

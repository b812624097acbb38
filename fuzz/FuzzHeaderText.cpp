// Decodes arbitrary bytes as a header's PasswordText and SummaryText, as a damaged or
// hostile recording could hold them, and checks what the file information dialog would
// show: a password of one byte per three digits, a summary that is well-formed UTF-8.
// Whatever the summary decodes to, storing it again fits the header and reads back whole.

#include "HeaderTextCodec.h"
#include "Utf8.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The header holds at most 255 characters in either field; longer inputs are cut the
    // same way a reader's length byte would cut them.
    const std::string_view input(reinterpret_cast<const char*>(data), size < 255 ? size : 255);

    const std::string password = qrv::DecodePassword(input);
    if (password.size() != (input.size() + 2) / 3)
        std::abort();

    const std::string summary = qrv::DecodeSummary(input);
    if (!qrv::IsValidUtf8(summary))
        std::abort();
    const std::string kept = qrv::CutSummaryForStorage(summary);
    const std::string stored = qrv::EncodeSummary(kept);
    if (stored.size() > qrv::MaxStoredSummaryChars || qrv::DecodeSummary(stored) != kept)
        std::abort();
    return 0;
}

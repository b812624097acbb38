#include "JpegPicture.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <new>

namespace qrv {

namespace {

// libjpeg reports errors through error_exit, which must not return: jump back to the
// decode call instead of ending the process.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

// The decode itself, free of C++ objects with destructors, so the longjmp skips nothing.
bool DecodeInto(jpeg_decompress_struct& info, ErrorManager& errors, const uint8_t* data, size_t size,
                TBitmap24*& bitmap)
{
    if (setjmp(errors.jump) != 0)
        return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
        return false;
    if (info.image_width == 0 || info.image_height == 0 ||
        uint64_t{info.image_width} * info.image_height > MaxJpegPixels)
        return false;
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    if (info.output_components != 3)
        return false;
    bitmap = new TBitmap24(static_cast<int32_t>(info.output_width), static_cast<int32_t>(info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = bitmap->Row(static_cast<int32_t>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

std::unique_ptr<TBitmap24> DecodeJpeg(const uint8_t* data, size_t size)
{
    if (data == nullptr || size == 0)
        return nullptr;
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
    TBitmap24* bitmap = nullptr;
    bool ok = false;
    try {
        ok = DecodeInto(info, errors, data, size, bitmap);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    std::unique_ptr<TBitmap24> owned(bitmap);
    jpeg_destroy_decompress(&info);
    return ok ? std::move(owned) : nullptr;
}

} // namespace qrv

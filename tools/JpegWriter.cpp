#include "JpegWriter.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace qrv::tools {

namespace {

struct ErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->Jump, 1);
}

// Compresses into `buffer` (allocated by the library). No C++ objects live in this frame,
// so leaving it by longjmp skips no destructor.
bool Compress(const TBitmap24& picture, int quality, unsigned char** buffer, unsigned long* size,
              uint8_t* rgbRow)
{
    jpeg_compress_struct info;
    ErrorManager error;
    info.err = jpeg_std_error(&error.Base);
    error.Base.error_exit = OnError;
    if (setjmp(error.Jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(picture.Width());
    info.image_height = static_cast<JDIMENSION>(picture.Height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const uint8_t* bgr = picture.Row(static_cast<int32_t>(info.next_scanline));
        for (int32_t x = 0; x < picture.Width(); ++x) {
            rgbRow[3 * x] = bgr[3 * x + 2];
            rgbRow[3 * x + 1] = bgr[3 * x + 1];
            rgbRow[3 * x + 2] = bgr[3 * x];
        }
        JSAMPROW row = rgbRow;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

std::vector<uint8_t> EncodeJpeg(const TBitmap24& picture, int quality)
{
    std::vector<uint8_t> rgbRow(picture.Stride());
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = Compress(picture, quality, &buffer, &size, rgbRow.data());
    std::vector<uint8_t> jpeg;
    if (ok && buffer != nullptr)
        jpeg.assign(buffer, buffer + size);
    std::free(buffer);
    return jpeg;
}

} // namespace qrv::tools

#pragma once

// Zentro: the video codec library. Decodes the video payloads of recordings (H.264 access
// units in Annex B form) on numbered channels 0..255, each with its own decoder state.
//
// Calling order per channel: DecChannelCreation once, ZTDecoder for each frame in file
// order, DecChannelEnd once. A decoded picture is written to `output` as width x height x 3
// bytes of blue, green, red, rows without padding, the bottom row first, at the size the
// channel was created for. A stream whose pictures have another size is scaled to the
// channel's size, so the output never holds more than width x height x 3 bytes. All
// numbers are 32-bit signed. No call ever raises: bad arguments answer 0.

#include <stdint.h>

#if defined(__GNUC__)
#define ZENTRO_API __attribute__((visibility("default")))
#else
#define ZENTRO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opens channel `channel` for pictures of width x height (each side 1..16384). mode and
// flag are accepted and not interpreted (the player passes 1 and 1). A channel that is
// already open is closed and opened afresh. Answers 1 on success, 0 on failure.
ZENTRO_API int32_t DecChannelCreation(int32_t channel, int32_t width, int32_t height, int32_t mode, int32_t flag);

// Decodes one frame of `size` bytes at `data` on `channel`. When it yields a picture, writes
// it to `output` (room for the channel's width x height x 3 bytes) and answers a value
// above 0; otherwise answers 0 and leaves `output` alone. A frame that does not decode
// whole (damaged, cut short, a frame before the channel's first key frame) yields no
// picture; the channel stays open and decodes from the next key frame on. Answers 0 for a
// channel outside 0..255 or not open, no data, size <= 0 or no output.
ZENTRO_API int32_t ZTDecoder(int32_t channel, const uint8_t* data, int32_t size, uint8_t* output);

// Closes the channel. Answers 1 when it was open, 0 otherwise.
ZENTRO_API int32_t DecChannelEnd(int32_t channel);

#ifdef __cplusplus
}
#endif

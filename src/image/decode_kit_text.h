#pragma once

#include <cstddef>
#include <cstdio>

#include "image/image_buffer.h"

// Kit text grammar: optional whitespace (space, tab, line feed, vertical tab, form feed, carriage
// return), then one or two hexadecimal digits of either case make one byte. The first character
// that can start no number ends the text silently, so "+", "-" and ":" end it, and "0x12" gives
// 00 and ends at the "x".
enum class KitDecodeStatus {
    kMore,       // the text may go on
    kEnded,      // a character that starts no number was met; the rest is ignored
    kTooLong,    // more numbers than a 16-bit count describes
    kReadError,  // the file could not be read to its end
};

// Decoding state carried from one block of text to the next.
struct KitDecoder {
    KitDecodeStatus status;
    uint8_t digits;  // digits of the number being read: 0, 1 or 2
    uint8_t value;
};

void kitDecoderStart(KitDecoder& decoder, ImageBuffer& image);

// Decodes one block of text into image; returns the status after it.
KitDecodeStatus kitDecoderFeed(KitDecoder& decoder, ImageBuffer& image, const char* text,
                               size_t length);

// The end of the text completes a number of one digit.
KitDecodeStatus kitDecoderFinish(KitDecoder& decoder, ImageBuffer& image);

// Decodes a whole open file; returns kEnded, kTooLong or kReadError.
KitDecodeStatus decodeKitFile(std::FILE* file, ImageBuffer& image);

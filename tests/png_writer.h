// A small PNG writer for the tests: every field a table row may want to set,
// sub-byte samples packed and Adam7 interlacing, zlib for the image data.
#pragma once

#include <string>

#include "support.h"

// Defaults to a valid 4 x 3 palette PNG of index 3.
struct Png {
  uint32_t width = 4, height = 3;
  uint8_t depth = 8, colour_type = 3;
  bool interlaced = false;
  Bytes pixels = Bytes(12, 3);    // one sample per byte, row after row
  Bytes palette = Bytes(12, 7);   // PLTE's data, written when not empty
  Bytes alpha;                    // tRNS's data, written when not empty
  Bytes before_idat, after_idat;  // further chunks, written as given
  Bytes idat;                     // IDAT's data, when not the pixels compressed
};

// An 8-bit palette PNG of these indices.
Png png_of(uint32_t width, uint32_t height, const Bytes& pixels, const Bytes& palette);

Bytes png_chunk(const std::string& type, const Bytes& data);

// The image data before compression: each scanline behind filter byte 0,
// samples packed from the high bits down, the passes one after another.
Bytes png_scanlines(const Png& png);

Bytes zlib_compress(const Bytes& raw);

// Signature, IHDR, PLTE, tRNS, chunks, IDAT, chunks, IEND.
Bytes build_png(const Png& png);

// A small PNG writer for the tests: every field a table row may want to set,
// packed sub-byte pixels and Adam7 interlacing, with zlib for the data.
#pragma once

#include <cstdint>
#include <string>

#include "support.h"

struct Png {
  uint32_t width = 2, height = 2;
  uint8_t depth = 8;
  uint8_t colour_type = 3;
  bool interlaced = false;
  Bytes pixels;       // one sample per byte, row after row
  Bytes palette;      // PLTE's data, written when not empty
  Bytes alpha;        // tRNS's data, written when not empty
  Bytes before_idat;  // chunks, written as given after PLTE and tRNS
  Bytes after_idat;   // chunks, written as given between IDAT and IEND
};

// A chunk: length, type, data, CRC.
Bytes png_chunk(const std::string& type, const Bytes& data);

// The image's rows, filtered with filter 0, packed and interlaced as asked,
// before compression.
Bytes png_raw_data(const Png& png);

// The whole file: signature, IHDR, PLTE, tRNS, extra chunks, one IDAT, extra
// chunks, IEND.
Bytes build_png(const Png& png);

// Palette data of `count` entries taken from test_palette().
Bytes png_palette(uint32_t count);

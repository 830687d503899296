// PCX files: the reader loads one 256-colour PCX file, checks it, copies out
// its palette and decodes its image into the pixel buffer; the writer writes
// an image back out as a standard 256-colour PCX file.
//
// The PCX file, as this reader takes it (16-bit fields little-endian):
//
//   offset  size  field
//        0     1  manufacturer, must be 10
//        1     1  version, not examined (written as 5)
//        2     1  encoding, must be 1 (run-length)
//        3     1  bits per pixel per plane, must be 8
//        4     2  xmin  \  the image spans xmin..xmax and ymin..ymax
//        6     2  ymin   | inclusive; xmin < xmax and ymin < ymax
//        8     2  xmax   |
//       10     2  ymax  /
//       12     4  resolution in dots per inch, across and down (written)
//       65     1  colour planes, must be 1
//       66     2  bytes per line (the decoded row stride, >= width)
//       68     2  palette type, 1 for colour (written)
//      128     -  run-length-encoded image data, up to the palette block
//   end-769    1  palette marker, 12, when the file has a palette
//   end-768  768  the palette: 256 entries of red, green, blue
//
// Run-length data is one stream over the whole image, rows undelimited.
// A byte of 192 or more (its two top bits set) is a count in its low six
// bits, 0 to 63, and the next byte is the value repeated; any other byte is
// one pixel of its own value.
#pragma once

#include <cstdint>

// Header fields: offsets and the values this reader accepts.
constexpr uint32_t pcx_header_size = 128;
constexpr uint32_t pcx_manufacturer_offset = 0;
constexpr uint8_t pcx_manufacturer_zsoft = 10;
constexpr uint32_t pcx_encoding_offset = 2;
constexpr uint8_t pcx_encoding_rle = 1;
constexpr uint32_t pcx_bits_offset = 3;
constexpr uint8_t pcx_bits_per_pixel = 8;
constexpr uint32_t pcx_xmin_offset = 4;
constexpr uint32_t pcx_ymin_offset = 6;
constexpr uint32_t pcx_xmax_offset = 8;
constexpr uint32_t pcx_ymax_offset = 10;
constexpr uint32_t pcx_planes_offset = 65;
constexpr uint8_t pcx_planes = 1;
constexpr uint32_t pcx_stride_offset = 66;
// Fields only the writer fills.
constexpr uint32_t pcx_version_offset = 1;
constexpr uint8_t pcx_version_with_palette = 5;
constexpr uint32_t pcx_dpi_offset = 12;
constexpr uint32_t pcx_dpi = 72;
constexpr uint32_t pcx_palette_type_offset = 68;
constexpr uint32_t pcx_palette_type_colour = 1;

// The palette block at the end of the file.
constexpr uint8_t pcx_palette_marker = 0x0C;
constexpr uint32_t pcx_palette_size = 256 * 3;
constexpr uint32_t pcx_palette_block_size = 1 + pcx_palette_size;  // 769
// The smallest file worth reading: a header and a palette block.
constexpr uint32_t pcx_min_file_size = pcx_header_size + pcx_palette_block_size;

// Run-length data: a byte with both top bits set, 192 or more, is a count;
// its low six bits hold the count.
constexpr uint8_t pcx_run_flags = 0xC0;
constexpr uint8_t pcx_run_count_mask = 0x3F;

// The longest run one count byte can hold.
constexpr uint32_t pcx_max_run = pcx_run_count_mask;

// An image's size limits are a sprite's, or a sheet's with -grid (see
// sprite/sprite.h).

// The raw file image, from read_src_pcx until decode_src_pcx decodes it into
// src_image (see image.h) and releases it: the file mapped, or a copy of it
// where the system cannot map it.
extern const uint8_t* src_pcx;
extern uint32_t src_pcx_size;         // length of the input file
extern const uint8_t* src_pcx_start;  // first byte of the image data
extern const uint8_t* src_pcx_end;    // one past its last byte

// Releases the raw file image, if any.
void release_src_pcx();

// Maps the input, checks the header and limits, and sets src_image's
// geometry, palette and transparent index.
bool read_src_pcx(const char* path);

// Decodes the image data into src_image's zero-filled pixel buffer and
// releases the raw file image.
bool decode_src_pcx();

// Reads a palette file, which must be exactly 768 bytes, into `palette`.
bool read_palette_file(const char* path, uint8_t* palette);

// Writes a width x height image (rows of `width` indices, one after another)
// as a run-length-encoded 256-colour PCX with `palette` at its end. Lines
// are padded to an even length; no run crosses a line.
bool write_pcx(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height, const uint8_t* palette);

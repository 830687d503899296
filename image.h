// The decoded image: the one record every reader (PCX, PNG) fills and the
// sprite compiler, the sheet writer and the bank writer read. A new input
// format means filling this record.
#pragma once

#include <cstdint>

// A VGA palette: 256 entries of red, green, blue.
constexpr uint32_t image_palette_size = 256 * 3;

struct Image {
  // stride x height palette indices, row after row: pixel (x, y) is
  // pixels[y * stride + x]. A cell or frame of a sheet is an Image whose
  // pixels point into the sheet's, with the sheet's stride.
  uint8_t* pixels;
  uint32_t width;
  uint32_t height;
  uint32_t stride;
  // The index no sprite draws: -tc's, else the image's own, else 0.
  uint8_t transparent;
  // Whether the file had a palette, and the palette, zero beyond the
  // entries it had.
  bool has_palette;
  uint8_t palette[image_palette_size];
};

// The image the run reads; the readers own its pixels.
extern Image src_image;

// Writes the image's 768 palette bytes to a file of their own.
bool write_pcx_palette(const char* path);

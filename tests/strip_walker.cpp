#include "strip_walker.h"

#include <algorithm>

std::string walk_strip(const uint8_t* strip, size_t available, uint32_t height, std::vector<int>& painted,
                       size_t& length) {
  painted.assign(height, -1);
  uint32_t row = 0;
  size_t at = 0;
  auto need = [&](size_t count) { return at + count <= available; };
  while (true) {
    if (!need(1)) return "strip runs past the end of the data";
    uint8_t control = strip[at++];
    if (control == 0xff) break;
    if (control >= 127 && control <= 130) return "control byte " + std::to_string(control);
    if (!need(1)) return "no skip byte";
    uint32_t skip = strip[at++];
    if (skip > 254) return "skip of 255";
    bool run = control > 130;
    uint32_t n = run ? control - 128u : control;
    if (skip == 0 && n == 0) return "record with no skip and no pixels";
    if (row + skip + n > height) return "records pass the column's height";
    row += skip;
    if (!need(run ? 1 : n)) return "record runs past the end of the data";
    for (uint32_t i = 0; i < n; ++i) painted[row + i] = strip[run ? at : at + i];
    at += run ? 1 : n;
    row += n;
  }
  length = at;
  if (row != height) return "records cover " + std::to_string(row) + " of " + std::to_string(height) + " rows";
  if (length > 385) return "strip of " + std::to_string(length) + " bytes";
  return "";
}

std::string check_sprite(const std::vector<uint8_t>& sprite, const uint8_t* pixels, uint32_t width, uint32_t height,
                         uint32_t stride, uint8_t transparent) {
  uint32_t rows = height < 255 ? height : 255;
  std::vector<uint8_t> header = {'K', 'O', 'B', '1', 'V', 'G', 'A', 'X'};
  header.insert(header.end(), {static_cast<uint8_t>(rows), 0, static_cast<uint8_t>(width),
                               static_cast<uint8_t>(width >> 8), 0, 0, 0, 0});
  if (sprite.size() < 16 || !std::equal(header.begin(), header.end(), sprite.begin())) return "bad header";
  size_t at = 16;
  std::vector<int> painted;
  for (uint32_t x = 0; x < width; ++x) {
    size_t length = 0;
    std::string why = walk_strip(sprite.data() + at, sprite.size() - at, rows, painted, length);
    if (!why.empty()) return "column " + std::to_string(x) + ": " + why;
    for (uint32_t y = 0; y < rows; ++y) {
      uint8_t pixel = pixels[y * stride + x];
      int expected = pixel == transparent ? -1 : pixel;
      if (painted[y] != expected) return "column " + std::to_string(x) + " row " + std::to_string(y) + " painted wrong";
    }
    at += length;
  }
  if (at != sprite.size()) return "bytes after the last strip";
  return "";
}

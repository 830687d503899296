#include "png_writer.h"

#include <zlib.h>

namespace {

void put_be32(Bytes& bytes, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

// Adam7: each pass's first column and row, and its steps.
struct Pass {
  uint32_t x0, y0, dx, dy;
};
const Pass adam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
const Pass whole_image = {0, 0, 1, 1};

// Appends the rows of one pass, each behind filter byte 0, samples packed
// from the high bits down.
void append_pass(const Png& png, const Pass& pass, Bytes& raw) {
  if (pass.x0 >= png.width || pass.y0 >= png.height) return;
  for (uint32_t y = pass.y0; y < png.height; y += pass.dy) {
    raw.push_back(0);
    uint32_t bits = 0, acc = 0;  // bits not yet written, in the low end of acc
    for (uint32_t x = pass.x0; x < png.width; x += pass.dx) {
      acc = acc << png.depth | png.pixels[y * png.width + x];
      for (bits += png.depth; bits >= 8; bits -= 8) raw.push_back(static_cast<uint8_t>(acc >> (bits - 8)));
      acc &= (1u << bits) - 1;
    }
    if (bits > 0) raw.push_back(static_cast<uint8_t>(acc << (8 - bits)));
  }
}

}  // namespace

Bytes png_chunk(const std::string& type, const Bytes& data) {
  Bytes chunk;
  put_be32(chunk, static_cast<uint32_t>(data.size()));
  for (char c : type) chunk.push_back(static_cast<uint8_t>(c));
  chunk.insert(chunk.end(), data.begin(), data.end());
  uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  put_be32(chunk, static_cast<uint32_t>(crc));
  return chunk;
}

Bytes png_raw_data(const Png& png) {
  Bytes raw;
  if (!png.interlaced) {
    append_pass(png, whole_image, raw);
    return raw;
  }
  for (const Pass& pass : adam7) append_pass(png, pass, raw);
  return raw;
}

Bytes build_png(const Png& png) {
  Bytes header;
  put_be32(header, png.width);
  put_be32(header, png.height);
  header.insert(header.end(), {png.depth, png.colour_type, 0, 0, static_cast<uint8_t>(png.interlaced ? 1 : 0)});
  Bytes raw = png_raw_data(png);
  Bytes compressed(compressBound(raw.size()));
  uLongf size = compressed.size();
  if (compress(compressed.data(), &size, raw.data(), raw.size()) != Z_OK) return {};
  compressed.resize(size);
  return join({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
               png_chunk("IHDR", header),
               png.palette.empty() ? Bytes{} : png_chunk("PLTE", png.palette),
               png.alpha.empty() ? Bytes{} : png_chunk("tRNS", png.alpha),
               png.before_idat,
               png_chunk("IDAT", compressed),
               png.after_idat,
               png_chunk("IEND", {})});
}

Bytes png_palette(uint32_t count) {
  Bytes palette = test_palette();
  palette.resize(3 * count);
  return palette;
}

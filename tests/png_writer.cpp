#include "png_writer.h"

#include <zlib.h>

#include "png/png.h"

static void put_be32(Bytes& bytes, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

Png png_of(uint32_t width, uint32_t height, const Bytes& pixels, const Bytes& palette) {
  Png png;
  png.width = width;
  png.height = height;
  png.pixels = pixels;
  png.palette = palette;
  return png;
}

Bytes png_chunk(const std::string& type, const Bytes& data) {
  Bytes chunk;
  put_be32(chunk, static_cast<uint32_t>(data.size()));
  for (char c : type) chunk.push_back(static_cast<uint8_t>(c));
  chunk.insert(chunk.end(), data.begin(), data.end());
  put_be32(chunk, static_cast<uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
  return chunk;
}

static void append_pass(const Png& png, const PngPass& pass, Bytes& raw) {
  if (pass.x0 >= png.width) return;
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

Bytes png_scanlines(const Png& png) {
  Bytes raw;
  if (!png.interlaced) append_pass(png, png_whole_image, raw);
  for (const PngPass& pass : png_adam7_passes) {
    if (png.interlaced) append_pass(png, pass, raw);
  }
  return raw;
}

Bytes zlib_compress(const Bytes& raw) {
  Bytes data(compressBound(raw.size()));
  uLongf size = data.size();
  if (compress(data.data(), &size, raw.data(), raw.size()) != Z_OK) return {};
  data.resize(size);
  return data;
}

Bytes build_png(const Png& png) {
  Bytes header;
  put_be32(header, png.width);
  put_be32(header, png.height);
  header.insert(header.end(), {png.depth, png.colour_type, 0, 0, static_cast<uint8_t>(png.interlaced)});
  return join({Bytes(png_signature, png_signature + png_signature_size), png_chunk("IHDR", header),
               png.palette.empty() ? Bytes{} : png_chunk("PLTE", png.palette),
               png.alpha.empty() ? Bytes{} : png_chunk("tRNS", png.alpha), png.before_idat,
               png_chunk("IDAT", png.idat.empty() ? zlib_compress(png_scanlines(png)) : png.idat), png.after_idat,
               png_chunk("IEND", {})});
}

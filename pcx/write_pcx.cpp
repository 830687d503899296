// The PCX writer: an image back out as a standard 256-colour PCX file, the
// form common image tools read.
#include <cstdlib>
#include <cstring>

#include "io.h"
#include "pcx/pcx.h"

bool read_palette_file(const char* path, uint8_t* palette) {
  uint32_t size = 0;
  off_t length = 0;
  uint8_t* data = load_file(path, "palette", pcx_palette_size + 1, &size, &length);
  if (!data) return false;
  bool whole = length == pcx_palette_size;
  if (whole) memcpy(palette, data, pcx_palette_size);
  free(data);
  if (!whole)
    return fail("Bad palette file '%s': %lld byte%s, a palette is 768\n", path, static_cast<long long>(length),
                length == 1 ? "" : "s");
  return true;
}

static uint8_t* put_header(uint8_t* out, uint32_t width, uint32_t height, uint32_t stride) {
  memset(out, 0, pcx_header_size);
  out[pcx_manufacturer_offset] = pcx_manufacturer_zsoft;
  out[pcx_version_offset] = pcx_version_with_palette;
  out[pcx_encoding_offset] = pcx_encoding_rle;
  out[pcx_bits_offset] = pcx_bits_per_pixel;
  put_le16(out + pcx_xmax_offset, width - 1);
  put_le16(out + pcx_ymax_offset, height - 1);
  put_le16(out + pcx_dpi_offset, pcx_dpi);
  put_le16(out + pcx_dpi_offset + 2, pcx_dpi);
  out[pcx_planes_offset] = pcx_planes;
  put_le16(out + pcx_stride_offset, stride);
  put_le16(out + pcx_palette_type_offset, pcx_palette_type_colour);
  return out + pcx_header_size;
}

// Encodes one line of `width` pixels padded to `stride` bytes with index 0:
// runs of 2 to 63, and single pixels as themselves unless their value would
// read as a count.
static uint8_t* put_line(uint8_t* out, const uint8_t* row, uint32_t width, uint32_t stride) {
  auto at = [&](uint32_t x) -> uint8_t { return x < width ? row[x] : 0; };
  for (uint32_t x = 0; x < stride;) {
    uint8_t value = at(x);
    uint32_t count = 1;
    while (count < pcx_max_run && x + count < stride && at(x + count) == value) ++count;
    if (count > 1 || value >= pcx_run_flags) *out++ = static_cast<uint8_t>(pcx_run_flags | count);
    *out++ = value;
    x += count;
  }
  return out;
}

bool write_pcx(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height, const uint8_t* palette) {
  const size_t stride = width + (width & 1);  // bytes per line are even
  // At worst every byte of a line takes two.
  uint8_t* file = static_cast<uint8_t*>(malloc(pcx_header_size + 2 * stride * height + pcx_palette_block_size));
  if (!file) return fail("Cannot allocate memory for PCX file '%s'\n", path);
  uint8_t* out = put_header(file, width, height, static_cast<uint32_t>(stride));
  for (uint32_t y = 0; y < height; ++y)
    out = put_line(out, pixels + y * size_t{width}, width, static_cast<uint32_t>(stride));
  *out++ = pcx_palette_marker;
  memcpy(out, palette, pcx_palette_size);
  out += pcx_palette_size;
  bool written = write_file(path, file, static_cast<size_t>(out - file));
  free(file);
  return written;
}

#include "pcx/pcx.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image.h"
#include "io.h"
#include "options.h"
#include "sprite/sprite.h"

const uint8_t* src_pcx;
uint32_t src_pcx_size;
const uint8_t* src_pcx_start;
const uint8_t* src_pcx_end;

// Whether src_pcx is a mapping of the file (or else a heap copy of it).
static bool src_pcx_mapped;

void release_src_pcx() {
  if (src_pcx && src_pcx_mapped) munmap(const_cast<uint8_t*>(src_pcx), src_pcx_size);
  if (src_pcx && !src_pcx_mapped) free(const_cast<uint8_t*>(src_pcx));
  src_pcx = nullptr;
}

// Reads the whole open input into a heap copy, for a file the system cannot
// map.
static bool copy_src_pcx(int fd) {
  uint8_t* copy = static_cast<uint8_t*>(malloc(src_pcx_size));
  if (!copy) return fail("Cannot malloc for source PCX\n");
  src_pcx = copy;
  lseek(fd, 0, SEEK_SET);
  if (!read_exactly(fd, copy, src_pcx_size)) return fail("Cannot read PCX\n");
  return true;
}

// Maps the open input as src_pcx: only the pages the header, the decoder
// and the palette touch are ever read, so the file's length costs neither
// time nor memory.
static bool load_src_pcx(int fd) {
  release_src_pcx();
  off_t length = input_length(fd);
  if (length < 0) return fail("Cannot read PCX\n");
  if (length < static_cast<off_t>(pcx_min_file_size)) return fail("File is too small to be PCX\n");
  if (length > static_cast<off_t>(UINT32_MAX)) return fail("PCX too big\n");
  src_pcx_size = static_cast<uint32_t>(length);
  void* mapped = mmap(nullptr, src_pcx_size, PROT_READ, MAP_PRIVATE, fd, 0);
  src_pcx_mapped = mapped != MAP_FAILED;
  if (!src_pcx_mapped && errno == ENOMEM) return fail("Cannot malloc for source PCX\n");
  if (!src_pcx_mapped) return copy_src_pcx(fd);
  src_pcx = static_cast<const uint8_t*>(mapped);
  return true;
}

static bool open_src_pcx(const char* path) {
  int fd = open_input(path);
  if (fd < 0) return fail("Cannot open source file '%s', %s\n", path, strerror(errno));
  bool loaded = load_src_pcx(fd);
  close(fd);
  return loaded;
}

static bool header_supported(const uint8_t* header) {
  if (header[pcx_manufacturer_offset] != pcx_manufacturer_zsoft) return false;
  if (header[pcx_encoding_offset] != pcx_encoding_rle) return false;
  if (header[pcx_bits_offset] != pcx_bits_per_pixel) return false;
  if (header[pcx_planes_offset] != pcx_planes) return false;
  if (read_le16(header + pcx_xmin_offset) >= read_le16(header + pcx_xmax_offset)) return false;
  if (read_le16(header + pcx_ymin_offset) >= read_le16(header + pcx_ymax_offset)) return false;
  return true;
}

static void set_geometry(const uint8_t* header) {
  src_image.stride = read_le16(header + pcx_stride_offset);
  src_image.width = read_le16(header + pcx_xmax_offset) - read_le16(header + pcx_xmin_offset) + 1;
  src_image.height = read_le16(header + pcx_ymax_offset) - read_le16(header + pcx_ymin_offset) + 1;
}

// A marker 769 bytes from the end is taken as the palette block, whatever
// the header says; the image data then stops at the marker.
static void locate_palette() {
  const uint8_t* marker = src_pcx + src_pcx_size - pcx_palette_block_size;
  src_image.has_palette = *marker == pcx_palette_marker;
  if (!src_image.has_palette) return;
  src_pcx_end = marker;
  memcpy(src_image.palette, marker + 1, pcx_palette_size);
}

bool read_src_pcx(const char* path) {
  if (!open_src_pcx(path)) return false;
  src_pcx_start = src_pcx + pcx_header_size;
  src_pcx_end = src_pcx + src_pcx_size;
  if (!header_supported(src_pcx)) return fail("PCX format not supported\n");
  set_geometry(src_pcx);
  if (grid_width == 0 && !sprite_size_fits(src_image.width, src_image.height)) return fail("PCX too big\n");
  if (grid_width != 0 && !check_image_size("PCX", src_image.width, src_image.height)) return false;
  if (src_image.stride < src_image.width) return fail("PCX stride < width\n");
  src_image.transparent = transparent_color;
  locate_palette();
  return true;
}

// Runs are stored with one fixed-size store that covers the longest run and
// may reach past the run's end; the pixel buffer has that much slack after
// it, and later pixels overwrite what a store left beyond its run.
constexpr size_t run_store_size = pcx_run_count_mask + 1;

// Expands run-length data into [out, out_end). Decoding stops at whichever
// end comes first; a count byte with no value after it is dropped, and a run
// that would pass the end of the buffer is cut there (its rest lands in the
// slack).
static void decode_rle(const uint8_t* in, const uint8_t* in_end, uint8_t* out, uint8_t* out_end) {
  while (in < in_end && out < out_end) {
    uint8_t byte = *in++;
    if (byte < pcx_run_flags) {
      *out++ = byte;
      continue;
    }
    if (in == in_end) break;
    memset(out, *in++, run_store_size);
    out += byte & pcx_run_count_mask;
  }
  // Short data: what the last run's store left beyond it must read as 0 again.
  if (out < out_end) {
    size_t stray = static_cast<size_t>(out_end - out);
    memset(out, 0, stray < run_store_size ? stray : run_store_size);
  }
}

bool decode_src_pcx() {
  uint32_t size = src_image.stride * src_image.height;
  // Zero-filled, so rows that short data never reaches read as index 0.
  uint8_t* pixels = static_cast<uint8_t*>(calloc(size + run_store_size, 1));
  if (!pixels) return fail("Cannot allocate decode buffer\n");
  decode_rle(src_pcx_start, src_pcx_end, pixels, pixels + size);
  release_src_pcx();
  src_image.pixels = pixels;
  return true;
}

// PNG decoding by libspng: the chunks before the image, the indices, and
// the chunks after it, to the end of the file.
#include <dlfcn.h>
#include <spng.h>

#include <cstdlib>
#include <cstring>

#include "image.h"
#include "io.h"
#include "options.h"
#include "png/png.h"
#include "sprite/sprite.h"

// libspng's functions, looked up when the first PNG arrives: linking the
// library would cost every run, PCX runs included, its start-up.
static struct {
  decltype(&spng_ctx_new) ctx_new;
  decltype(&spng_ctx_free) ctx_free;
  decltype(&spng_set_crc_action) set_crc_action;
  decltype(&spng_set_chunk_limits) set_chunk_limits;
  decltype(&spng_set_png_stream) set_png_stream;
  decltype(&spng_get_ihdr) get_ihdr;
  decltype(&spng_get_plte) get_plte;
  decltype(&spng_get_trns) get_trns;
  decltype(&spng_decoded_image_size) decoded_image_size;
  decltype(&spng_decode_image) decode_image;
  decltype(&spng_get_row_info) get_row_info;
  decltype(&spng_decode_scanline) decode_scanline;
  decltype(&spng_decode_chunks) decode_chunks;
  decltype(&spng_strerror) strerror;
} spng;

static bool load_spng() {
  static bool loaded;
  if (loaded) return true;
  void* library = dlopen(png_library, RTLD_LAZY | RTLD_LOCAL);
  if (!library) return fail("Cannot read PNG without libspng (Debian package libspng0): %s\n", dlerror());
  struct Symbol {
    const char* name;
    void* slot;
  };
  const Symbol symbols[] = {{"spng_ctx_new", &spng.ctx_new},
                            {"spng_ctx_free", &spng.ctx_free},
                            {"spng_set_crc_action", &spng.set_crc_action},
                            {"spng_set_chunk_limits", &spng.set_chunk_limits},
                            {"spng_set_png_stream", &spng.set_png_stream},
                            {"spng_get_ihdr", &spng.get_ihdr},
                            {"spng_get_plte", &spng.get_plte},
                            {"spng_get_trns", &spng.get_trns},
                            {"spng_decoded_image_size", &spng.decoded_image_size},
                            {"spng_decode_image", &spng.decode_image},
                            {"spng_get_row_info", &spng.get_row_info},
                            {"spng_decode_scanline", &spng.decode_scanline},
                            {"spng_decode_chunks", &spng.decode_chunks},
                            {"spng_strerror", &spng.strerror}};
  for (const Symbol& symbol : symbols) {
    void* function = dlsym(library, symbol.name);
    if (!function) return fail("Cannot read PNG: %s has no %s, it is too old\n", png_library, symbol.name);
    memcpy(symbol.slot, &function, sizeof function);
  }
  loaded = true;
  return true;
}

static bool damaged(const char* path, int error) {
  if (png_reader_failed(path)) return false;
  if (error == SPNG_IO_EOF && png_in_iend()) {
    return fail("Damaged PNG '%s': the file does not end with IEND, it may be cut short\n", path);
  }
  const char* why = error == SPNG_IO_EOF ? "the file ends too early" : spng.strerror(error);
  return fail("Damaged PNG '%s': %s\n", path, why);
}

static void keep_palette(const spng_plte& plte) {
  memset(src_image.palette, 0, sizeof src_image.palette);
  for (uint32_t i = 0; i < plte.n_entries; ++i) {
    src_image.palette[3 * i] = plte.entries[i].red;
    src_image.palette[3 * i + 1] = plte.entries[i].green;
    src_image.palette[3 * i + 2] = plte.entries[i].blue;
  }
  src_image.has_palette = true;
}

// Indexed-colour editors save their transparent index as the one entry of
// alpha 0; with several such entries (or none) none of them is chosen.
static void take_transparent_index(const spng_trns& trns) {
  uint32_t transparent_entries = 0;
  uint32_t index = 0;
  for (uint32_t i = 0; i < trns.n_type3_entries; ++i) {
    if (trns.type3_alpha[i] != png_fully_transparent) continue;
    ++transparent_entries;
    index = i;
  }
  src_image.transparent = transparent_color;
  if (transparent_entries == 1 && !transparent_color_given) src_image.transparent = static_cast<uint8_t>(index);
}

// Puts the indices of one decoded scanline, packed high bits first, where
// its pass puts them in the image.
static void place_scanline(const uint8_t* line, const spng_row_info& row, const spng_ihdr& ihdr, uint8_t* pixels) {
  const PngPass& pass = ihdr.interlace_method == png_interlace_adam7 ? png_adam7_passes[row.pass] : png_whole_image;
  const uint32_t depth = ihdr.bit_depth;
  const uint32_t mask = (1u << depth) - 1;
  uint8_t* out = pixels + static_cast<size_t>(row.row_num) * ihdr.width;
  for (uint32_t x = pass.x0, bit = 0; x < ihdr.width; x += pass.dx, bit += depth) {
    out[x] = static_cast<uint8_t>(line[bit / 8] >> (8 - depth - bit % 8) & mask);
  }
}

// Decodes the image data to one index per byte into `pixels`, scanline by
// scanline in the file's own bit depth, so that one small line buffer serves
// every depth and interlacing. (libspng's whole-image de-interlacing ORs
// sub-byte pixels into its output, which would have to be zeroed first.) An
// 8-bit image that is not interlaced is decoded straight into place.
static int decode_indices(spng_ctx* ctx, const spng_ihdr& ihdr, uint8_t* pixels) {
  size_t image_size;
  int error = spng.decoded_image_size(ctx, SPNG_FMT_PNG, &image_size);
  if (!error) error = spng.decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE);
  if (error) return error;
  const size_t line_size = image_size / ihdr.height;
  const bool in_place = ihdr.bit_depth == png_max_bit_depth && ihdr.interlace_method != png_interlace_adam7;
  uint8_t* line = static_cast<uint8_t*>(malloc(line_size));
  if (!line) return SPNG_EMEM;
  spng_row_info row;
  while ((error = spng.get_row_info(ctx, &row)) == 0) {
    uint8_t* into = in_place ? pixels + static_cast<size_t>(row.row_num) * ihdr.width : line;
    error = spng.decode_scanline(ctx, into, line_size);
    if (error && error != SPNG_EOI) break;
    if (!in_place) place_scanline(line, row, ihdr, pixels);
    if (error) break;
  }
  free(line);
  return error == SPNG_EOI ? 0 : error;
}

static void set_geometry(const spng_ihdr& ihdr) {
  src_image.width = src_image.stride = ihdr.width;
  src_image.height = ihdr.height;
}

// Reads and checks the chunks that come before the image data.
static bool read_chunks_before_image(spng_ctx* ctx, const char* path, spng_ihdr* ihdr, spng_plte* plte,
                                     spng_trns* trns) {
  int error = spng.get_ihdr(ctx, ihdr);
  if (error) return damaged(path, error);
  if (ihdr->color_type != png_colour_type_indexed) {
    return fail("PNG '%s' is not indexed: save it with a palette (indexed colour, 256 colours at most)\n", path);
  }
  if (!check_image_size("PNG", ihdr->width, ihdr->height)) return false;
  error = spng.get_plte(ctx, plte);
  if (error) return damaged(path, error);
  error = spng.get_trns(ctx, trns);
  if (error == SPNG_ECHUNKAVAIL) {
    trns->n_type3_entries = 0;  // no tRNS: every entry is opaque
    return true;
  }
  if (error) return damaged(path, error);
  return true;
}

// Decodes the image into `pixels` and reads the rest of the file, to its end.
static bool decode_to_end(spng_ctx* ctx, const char* path, const spng_ihdr& ihdr, uint8_t* pixels) {
  int error = decode_indices(ctx, ihdr, pixels);
  png_image_done();
  if (!error) error = spng.decode_chunks(ctx);  // the chunks after the image, to IEND
  if (error) return damaged(path, error);
  if (!png_ends_at_iend()) {
    return fail("Damaged PNG '%s': the file does not end with IEND, it may be cut short\n", path);
  }
  return true;
}

// Everything is checked and decoded, to the end of the file, before any
// value of the run changes, so that a damaged file leaves nothing behind.
// libspng's reader: the chunks the reader hands on, read as it asks.
static int read_stream(spng_ctx*, void*, void* into, size_t size) {
  return read_png_stream(static_cast<uint8_t*>(into), size) ? 0 : SPNG_IO_EOF;
}

static bool decode_with(spng_ctx* ctx, const char* path) {
  const int crc_action = png_checks_crc ? SPNG_CRC_ERROR : SPNG_CRC_USE;
  spng.set_crc_action(ctx, crc_action, crc_action);
  spng.set_chunk_limits(ctx, png_max_file_size, png_chunk_cache_limit);
  spng.set_png_stream(ctx, read_stream, nullptr);
  spng_ihdr ihdr;
  spng_plte plte;
  spng_trns trns;
  if (!read_chunks_before_image(ctx, path, &ihdr, &plte, &trns)) return false;
  uint8_t* pixels = static_cast<uint8_t*>(malloc(static_cast<size_t>(ihdr.width) * ihdr.height));
  if (!pixels) return fail("Cannot allocate decode buffer\n");
  if (!decode_to_end(ctx, path, ihdr, pixels)) {
    free(pixels);
    return false;
  }
  src_image.pixels = pixels;
  set_geometry(ihdr);
  keep_palette(plte);
  take_transparent_index(trns);
  return true;
}

bool decode_png(const char* path) {
  if (!load_spng()) return false;
  spng_ctx* ctx = spng.ctx_new(0);
  if (!ctx) return fail("Cannot allocate memory for decoding PNG\n");
  bool decoded = decode_with(ctx, path);
  spng.ctx_free(ctx);
  return decoded;
}

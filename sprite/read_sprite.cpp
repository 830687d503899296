// The sprite reader: paints a KOB file back into an image, refusing any file
// that breaks a rule of the layout.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io.h"
#include "options.h"
#include "sprite/sprite.h"

uint8_t* src_kob;
uint32_t src_kob_width;
uint32_t src_kob_height;

namespace {

const char* sprite_path;
const uint8_t* sprite;
uint32_t sprite_size;  // bytes read, at most one more than any sound file
off_t sprite_length;   // the file's whole length

// Reports the first broken rule, with the offset of the byte that breaks it.
bool bad(uint32_t offset, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool bad(uint32_t offset, const char* format, ...) {
  char problem[128];
  va_list args;
  va_start(args, format);
  vsnprintf(problem, sizeof problem, format, args);
  va_end(args);
  return fail("Bad sprite file '%s': %s (byte %u)\n", sprite_path, problem, offset);
}

bool check_header() {
  if (sprite_size < kob_header_size) return bad(sprite_size, "the file ends inside the header");
  if (memcmp(sprite, kob_magic, kob_magic_size) != 0) return bad(0, "no KOB1VGAX magic");
  uint32_t height = read_le16(sprite + kob_height_offset);
  uint32_t width = read_le16(sprite + kob_width_offset);
  uint32_t reserved = read_le32(sprite + kob_reserved_offset);
  if (height < kob_min_dimension || height > kob_max_height) {
    return bad(kob_height_offset, "height %u outside 2 to 255", height);
  }
  if (width < kob_min_dimension || width > kob_max_width) {
    return bad(kob_width_offset, "width %u outside 2 to 511", width);
  }
  if (reserved != 0) return bad(kob_reserved_offset, "reserved field is %u, not 0", reserved);
  src_kob_height = height;
  src_kob_width = width;
  return true;
}

// Walks one strip from `at` and paints its column; `at` ends past the
// terminator.
bool paint_strip(uint32_t column, uint32_t& at) {
  uint8_t* pixel = src_kob + column;
  uint32_t row = 0;
  while (true) {
    if (at >= sprite_size) return bad(at, "the file ends inside strip %u", column);
    const uint32_t record = at;
    const uint8_t control = sprite[at];
    if (control == kob_end_of_strip) break;
    if (control > kob_max_literal && control < kob_run_base + kob_min_run) {
      if (control == kob_max_literal + 1)
        return bad(record, "strip %u: control byte 127, a literal over 126 pixels", column);
      return bad(record, "strip %u: a run of %u pixels, fewer than 3", column, control - kob_run_base);
    }
    if (at + 1 >= sprite_size) return bad(sprite_size, "the file ends inside strip %u", column);
    const uint32_t skip = sprite[at + 1];
    if (skip > kob_max_skip) return bad(at + 1, "strip %u: a skip of 255, over 254", column);
    const bool run = control >= kob_run_base;
    const uint32_t n = run ? control - kob_run_base : control;
    if (skip == 0 && n == 0) return bad(record, "strip %u: a record with no skip and no pixels", column);
    if (row + skip + n > src_kob_height) {
      return bad(record, "strip %u covers %u rows, header says %u", column, row + skip + n, src_kob_height);
    }
    const uint32_t data_size = run ? 1 : n;
    at += 2;
    if (sprite_size - at < data_size) return bad(sprite_size, "the file ends inside strip %u", column);
    row += skip;
    for (uint32_t i = 0; i < n; ++i, ++row) pixel[static_cast<size_t>(row) * src_kob_width] = sprite[run ? at : at + i];
    at += data_size;
  }
  if (row != src_kob_height) {
    return bad(at, "strip %u covers %u rows, header says %u", column, row, src_kob_height);
  }
  ++at;
  return true;
}

// Paints every strip of the loaded file into src_kob.
bool paint_sprite() {
  const size_t pixels = static_cast<size_t>(src_kob_width) * src_kob_height;
  src_kob = static_cast<uint8_t*>(malloc(pixels));
  if (!src_kob) return fail("Cannot allocate memory for sprite file '%s'\n", sprite_path);
  memset(src_kob, transparent_color, pixels);
  uint32_t at = kob_header_size;
  for (uint32_t column = 0; column < src_kob_width; ++column) {
    if (!paint_strip(column, at)) return false;
  }
  if (sprite_length > at) {
    return bad(at, "%lld bytes after the last strip", static_cast<long long>(sprite_length - at));
  }
  return true;
}

}  // namespace

bool read_sprite(const char* path) {
  sprite_path = path;
  uint8_t* file = load_file(path, "sprite", kob_max_file_size + 1, &sprite_size, &sprite_length);
  if (!file) return false;
  sprite = file;
  bool ok = check_header() && paint_sprite();
  free(file);
  return ok;
}

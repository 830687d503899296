// The sprite reader: paints a KOB file back into an image, refusing any file
// that breaks a rule of the layout.
#include <cstdlib>
#include <cstring>

#include "io.h"
#include "modex/kob.h"
#include "options.h"
#include "sprite/sprite.h"

uint8_t* src_kob;
uint32_t src_kob_width;
uint32_t src_kob_height;

namespace {

const char* sprite_path;
off_t sprite_length;             // the file's whole length; only its start is read
kob_sprite sprite;               // the loaded file, checked
kob_size strips[KOB_MAX_WIDTH];  // where each of its strips starts

// Reports the first broken rule, with the offset of the byte that breaks it.
bool bad(const kob_fault& fault) {
  kob_fault reported = fault;
  // Only the file's start is in memory; count what follows the last strip
  // from the file's whole length.
  if (fault.code == KOB_TRAILING_DATA) reported.value = static_cast<kob_size>(sprite_length) - fault.offset;
  char problem[KOB_PROBLEM_SIZE];
  kob_problem(&reported, problem);
  return fail("Bad sprite file '%s': %s (byte %lu)\n", sprite_path, problem, fault.offset);
}

// Paints one checked strip down from `pixel`, rows `pitch` bytes apart.
void paint_strip(uint8_t* pixel, size_t pitch, const uint8_t* record) {
  uint32_t row = 0;
  for (unsigned control; (control = *record) != KOB_END; record = KOB_NEXT_RECORD(record, control)) {
    const uint8_t* data = KOB_RECORD_DATA(record);
    const uint32_t n = KOB_RECORD_PIXELS(control);
    row += KOB_RECORD_SKIP(record);
    for (uint32_t i = 0; i < n; ++i, ++row) pixel[row * pitch] = data[KOB_IS_RUN(control) ? 0 : i];
  }
}

// Checks the loaded file against every rule of the layout, then paints every
// strip into src_kob.
bool paint_sprite(const uint8_t* file, uint32_t size) {
  kob_fault fault;
  if (kob_open(&sprite, file, size, strips, KOB_MAX_WIDTH, &fault) != KOB_OK) return bad(fault);
  src_kob_width = sprite.width;
  src_kob_height = sprite.height;
  const size_t pixels = static_cast<size_t>(src_kob_width) * src_kob_height;
  src_kob = static_cast<uint8_t*>(malloc(pixels));
  if (!src_kob) return fail("Cannot allocate memory for sprite file '%s'\n", sprite_path);
  memset(src_kob, transparent_color, pixels);
  paint_sprite_at(sprite, src_kob, src_kob_width, false);
  return true;
}

}  // namespace

void paint_sprite_at(const kob_sprite& sprite, uint8_t* corner, size_t pitch, bool mirrored) {
  for (uint32_t column = 0; column < sprite.width; ++column) {
    const uint32_t x = mirrored ? sprite.width - 1 - column : column;
    paint_strip(corner + x, pitch, sprite.data + sprite.strip[column]);
  }
}

bool read_sprite(const char* path) {
  sprite_path = path;
  uint32_t sprite_size = 0;  // bytes read, at most one more than any sound file
  uint8_t* file = load_file(path, "sprite", kob_max_file_size + 1, &sprite_size, &sprite_length);
  if (!file) return false;
  bool ok = paint_sprite(file, sprite_size);
  free(file);
  return ok;
}

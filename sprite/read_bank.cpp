// The bank reader: a bank checked whole by the library's bank checker, then
// painted back as its sheet or as one frame, or listed.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io.h"
#include "modex/kobbank.h"
#include "options.h"
#include "sprite/bank.h"
#include "sprite/sprite.h"

namespace {

// No sound bank is longer: a table of the most frames, and sprites of at
// most three bytes a pixel and a header and an end byte a column, over a
// sheet of the most pixels.
constexpr uint32_t bank_max_file_size = 256u << 20;

const char* bank_path;
uint8_t* bank_file;
uint32_t bank_size;
kob_bank bank;
kob_size strips[KOB_MAX_WIDTH];

bool bad(const kob_bank_fault& fault) {
  char problem[KOB_BANK_PROBLEM_SIZE];
  kob_bank_problem(&fault, problem);
  return fail("Bad bank file '%s': %s (byte %lu)\n", bank_path, problem, fault.offset);
}

bool allocate_image(uint32_t width, uint32_t height) {
  const size_t pixels = static_cast<size_t>(width) * height;
  src_kob = static_cast<uint8_t*>(malloc(pixels));
  if (!src_kob) return fail("Cannot allocate memory for bank file '%s'\n", bank_path);
  memset(src_kob, transparent_color, pixels);
  src_kob_width = width;
  src_kob_height = height;
  return true;
}

// Paints frame `n` with its cell's top left corner at `cell`.
void paint_frame(uint32_t n, uint8_t* cell) {
  kob_frame frame;
  kob_bank_frame(&bank, n, &frame, strips, KOB_MAX_WIDTH);
  if (frame.sprite.width == 0) return;
  uint8_t* corner = cell + static_cast<size_t>(frame.top) * src_kob_width + frame.left;
  paint_sprite_at(frame.sprite, corner, src_kob_width, frame.mirrored != 0);
}

const uint8_t* entry(uint32_t n) { return bank.data + KOB_BANK_HEADER_SIZE + static_cast<size_t>(n) * KOB_ENTRY_SIZE; }

// The lines of the listing go out in blocks.
char list_block[1 << 16];
size_t list_used;

bool flush_list() {
  bool written = write_all(STDOUT_FILENO, list_block, list_used);
  list_used = 0;
  if (!written) return fail("Cannot write the list of frames: %s\n", strerror(errno));
  return true;
}

}  // namespace

bool input_is_bank(const char* path) {
  int fd = open_input(path);
  if (fd < 0) return false;
  uint8_t head[KOB_BANK_MAGIC_SIZE];
  bool is_bank = pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                 memcmp(head, KOB_BANK_MAGIC, sizeof head) == 0;
  close(fd);
  return is_bank;
}

bool read_bank(const char* path) {
  bank_path = path;
  off_t length = 0;
  bank_file = load_file(path, "bank", bank_max_file_size + 1, &bank_size, &length);
  if (!bank_file) return false;
  if (length > static_cast<off_t>(bank_max_file_size)) {
    return fail("Bad bank file '%s': longer than the %u MiB of any bank\n", path, bank_max_file_size >> 20);
  }
  kob_bank_fault fault;
  if (kob_bank_open(&bank, bank_file, bank_size, &fault) != KOB_BANK_OK) return bad(fault);
  return true;
}

bool paint_bank_sheet() {
  const uint32_t rows = bank.frames / bank.across;
  if (!allocate_image(bank.across * bank.cell_width, rows * bank.cell_height)) return false;
  for (uint32_t n = 0; n < bank.frames; ++n) {
    const size_t row_start = static_cast<size_t>(n / bank.across) * bank.cell_height * src_kob_width;
    paint_frame(n, src_kob + row_start + static_cast<size_t>(n % bank.across) * bank.cell_width);
  }
  return true;
}

bool paint_bank_frame(const char* number) {
  uint32_t n = 0;
  const char* digit = number;
  for (; *digit >= '0' && *digit <= '9' && n < bank.frames; ++digit) n = n * 10 + static_cast<uint32_t>(*digit - '0');
  if (digit == number || *digit != '\0' || n >= bank.frames) {
    return fail("Frame '%s' is not in bank file '%s': give a number from 0 to %u\n", number, bank_path,
                bank.frames - 1);
  }
  if (!allocate_image(bank.cell_width, bank.cell_height)) return false;
  paint_frame(n, src_kob);
  return true;
}

bool list_bank() {
  static uint32_t stored_size[KOB_BANK_MAX_SHEET];
  uint32_t next = bank_size;
  for (uint32_t n = bank.frames; n > 0; --n) {
    if (entry(n - 1)[KOB_ENTRY_KIND] != KOB_FRAME_STORED) continue;
    const uint32_t offset = read_le32(entry(n - 1) + KOB_ENTRY_OFFSET);
    stored_size[n - 1] = next - offset;
    next = offset;
  }
  constexpr size_t longest_line = 96;
  for (uint32_t n = 0; n < bank.frames; ++n) {
    kob_frame frame;
    kob_bank_frame(&bank, n, &frame, strips, KOB_MAX_WIDTH);
    const uint8_t kind = entry(n)[KOB_ENTRY_KIND];
    const uint32_t source = read_le16(entry(n) + KOB_ENTRY_SOURCE);
    char how[32];
    if (kind == KOB_FRAME_EMPTY) snprintf(how, sizeof how, "empty");
    if (kind == KOB_FRAME_STORED) snprintf(how, sizeof how, "stored %u", stored_size[n]);
    if (kind == KOB_FRAME_SAME) snprintf(how, sizeof how, "same %u", source);
    if (kind == KOB_FRAME_MIRRORED) snprintf(how, sizeof how, "mirrored %u", source);
    if (list_used + longest_line > sizeof list_block && !flush_list()) return false;
    list_used += static_cast<size_t>(snprintf(list_block + list_used, longest_line, "%u %ux%u %d,%d %d,%d %s\n", n,
                                              frame.sprite.width, frame.sprite.height, frame.left, frame.top,
                                              frame.hotspot_x, frame.hotspot_y, how));
  }
  return flush_list();
}

// libFuzzer target: a sprite sheet through the real stages. The first three
// bytes give the cell size (each 0 to 511, so out-of-range grids are tried
// too), the rest is the image, PCX or PNG. Every cell is written through
// write_sprite_sheet to a scratch directory, read back with the sprite
// reader, and must paint exactly the pixels of its cell. The sheet compiled
// as a bank must pass the library's bank checker.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/quietly.h"
#include "image.h"
#include "modex/kobbank.h"
#include "options.h"
#include "pcx/pcx.h"
#include "png/png.h"
#include "sprite/bank.h"
#include "sprite/sprite.h"

namespace {

int input_fd = -1;
char input_path[64];
char cell_directory[32];
char cell_pattern[64];
char cell_name[80];
// Sheets with more cells are left alone: each cell is a file written and read.
const uint32_t max_cells = 1024;

bool read_image() {
  if (input_is_png(input_path)) return read_src_png(input_path);
  return read_src_pcx(input_path) && decode_src_pcx();
}

// The sprite of cell `cell` paints its first rows (255 at most) as they
// are in the sheet: the reader fills unpainted pixels with the transparent
// index, which is what those pixels hold.
void check_cell(uint32_t cell) {
  snprintf(cell_name, sizeof cell_name, cell_pattern, cell);
  free(src_kob);
  src_kob = nullptr;
  transparent_color = src_image.transparent;  // a PNG's own may differ from -tc's default
  if (!quietly([] { return read_sprite(cell_name); })) abort();
  if (src_kob_width != grid_width || src_kob_height != strip_height_for(grid_height)) abort();
  const uint32_t columns = src_image.width / grid_width;
  const uint8_t* corner = src_image.pixels + static_cast<size_t>(cell / columns) * grid_height * src_image.stride +
                          static_cast<size_t>(cell % columns) * grid_width;
  for (uint32_t y = 0; y < src_kob_height; ++y) {
    if (memcmp(src_kob + y * src_kob_width, corner + y * src_image.stride, src_kob_width) != 0) abort();
  }
}

// At exit the cell files go, and their directory with them.
void remove_cells() {
  for (uint32_t cell = 0; cell < max_cells; ++cell) {
    snprintf(cell_name, sizeof cell_name, cell_pattern, cell);
    unlink(cell_name);
  }
  rmdir(cell_directory);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  input_fd = memfd_create("sheet-fuzz", 0);
  strcpy(cell_directory, "/tmp/sheet-fuzz-XXXXXX");
  if (input_fd < 0 || !mkdtemp(cell_directory)) abort();
  snprintf(input_path, sizeof input_path, "/proc/self/fd/%d", input_fd);
  snprintf(cell_pattern, sizeof cell_pattern, "%s/c%%d.kob", cell_directory);
  atexit(remove_cells);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t width = data[0] | (data[1] & 1u) << 8, height = data[2] | (data[1] & 2u) << 7;
  char grid[24];
  snprintf(grid, sizeof grid, "%ux%u", width, height);
  if (ftruncate(input_fd, 0) != 0) abort();
  if (size > 3 && pwrite(input_fd, data + 3, size - 3, 0) != static_cast<ssize_t>(size - 3)) abort();
  release_src_pcx();
  free(src_image.pixels);
  src_image.pixels = nullptr;
  transparent_color = size > 4 ? data[4] : 0;
  if (!quietly([&] { return set_grid(grid) && check_cell_name(cell_pattern) && read_image(); })) return 0;
  const uint32_t cells = (src_image.width / grid_width) * (src_image.height / grid_height);
  if (cells > max_cells) return 0;
  if (!quietly([] { return write_sprite_sheet(cell_pattern); })) abort();
  for (uint32_t cell = 0; cell < cells; ++cell) check_cell(cell);
  if (!quietly([] { return compile_bank(); })) abort();
  kob_bank bank;
  kob_bank_fault fault;
  if (kob_bank_open(&bank, out_bank, out_bank_size, &fault) != KOB_BANK_OK) abort();
  if (bank.frames != cells) abort();
  free(out_bank);
  out_bank = nullptr;
  out_bank_size = 0;
  return 0;
}

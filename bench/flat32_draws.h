// The bench sprites drawn once each on the emulated 386 through
// flat32/libmodex32.a, the strip drawer and compiled code, with the most
// instructions per visible opaque pixel each draw may take. bench_cpu16
// prints the table; a test holds every draw to its bound.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "cpu386.h"
#include "modex/kob.h"
#include "modex/vgamodel.h"

struct Flat32Draw {
  const char* image;
  const char* where;
  int x, y;  // INT_MIN: centred
  bool mirrored;
  double strips, compiled;  // the bounds; compiled 0: drawn by the strips
};

// The compiled bounds leave room for the draw's own instructions over one
// store per doubleword, word or byte: on the 32 x 32 blob those stores alone
// are 244 for 616 pixels (0.40), and the checks, the call and the four
// selects about 60 more.
inline const Flat32Draw flat32_draws[] = {
    {"blob-32x32", "centred", INT_MIN, INT_MIN, false, 3.3, 0.5},
    {"blob-48x40", "centred", INT_MIN, INT_MIN, false, 3.0, 0.38},
    {"blob-64x64", "centred", INT_MIN, INT_MIN, false, 3.0, 0.34},
    {"blob-64x64", "centred, mirrored", INT_MIN, INT_MIN, true, 3.0, 0},
    {"noise-320x200", "centred", INT_MIN, INT_MIN, false, 2.0, 0},
    {"flat-320x200", "centred", INT_MIN, INT_MIN, false, 1.6, 0.30},
    {"blob-64x64", "at (-32, -32)", -32, -32, false, 5.0, 0},
};

// Where the target, the descriptor and the sprite go, its code after it.
constexpr uint32_t flat32_target_at = cpu386_data, flat32_sprite_at = cpu386_data + 0x40,
                   flat32_data_at = cpu386_data + 0x100;

struct Flat32Count {
  Cpu16Counts counts;
  unsigned long visible = 0;  // bytes stored: each visible opaque pixel once
  kob_size code = 0;          // bytes of compiled code, when drawn through it
};

// One draw of the sprite (the file of `file_size` bytes) at the row's place,
// through kob_draw or kob_draw_mirrored, or through the code the 386's
// kob_compile writes, on a cleared screen.
inline Flat32Count count_flat32_draw(Cpu386& cpu, const kob_sprite& sprite, kob_size file_size, const Flat32Draw& row,
                                     bool compiled) {
  Flat32Count out;
  int x = row.x != INT_MIN ? row.x : (KOB_SCREEN_WIDTH - int(sprite.width)) / 2;
  int y = row.y != INT_MIN ? row.y : (KOB_SCREEN_HEIGHT - int(sprite.height)) / 2;
  kob_target target;
  kob_target_init(&target, 0);
  cpu386_place_target(cpu, target, flat32_target_at);
  uint32_t code_at = cpu386_place_sprite(cpu, sprite, file_size, flat32_data_at, flat32_sprite_at);
  std::vector<uint32_t> arguments = {flat32_target_at, flat32_sprite_at, uint32_t(x), uint32_t(y)};
  std::string function = row.mirrored ? "kob_draw_mirrored" : "kob_draw";
  if (compiled) {
    out.code = cpu.call(cpu.symbol("kob_compiled_size"), {flat32_sprite_at}).eax;
    Cpu16Counts written = cpu.call(cpu.symbol("kob_compile"), {flat32_sprite_at, code_at, uint32_t(out.code)});
    if (!written.returned || written.eax == 0) return out;
    arguments.insert(arguments.begin() + 2, code_at);
    function = "kob_draw_compiled";
  }
  vga_model_reset(0);
  out.counts = cpu.call(cpu.symbol(function), arguments);
  out.visible = vga_model_bytes_written();
  return out;
}

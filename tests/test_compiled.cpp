// Compiled sprites: the code kob_compile writes, byte for byte, from the host
// build and from bcc's; and that code drawn through kob_draw_compiled on the
// emulated PC against the C drawer of the same DOS library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "cpu16.h"
#include "modex/kobbank.h"
#include "modex/kobcomp.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

// Where the descriptors, the sprite file (its strip table after it) and then
// the code go in the data segment: above the library's own data, below the
// stack at its top.
constexpr uint16_t target_at = 0x3000, sprite_at = 0x3010, data_at = 0x3100, data_end = 0xF000;

struct Sprite {
  Bytes file;
  std::vector<kob_size> strips;
  kob_sprite sprite{};
};

Sprite open_sprite(const Bytes& pixels, uint32_t width, uint32_t height) {
  Sprite s{kob_of(pixels, width, height), std::vector<kob_size>(width)};
  kob_fault fault;
  EXPECT_EQ(kob_open(&s.sprite, s.file.data(), s.file.size(), s.strips.data(), width, &fault), KOB_OK);
  return s;
}

// The DOS library that bcc linked, with one sprite in its data segment.
struct DosLibrary {
  Cpu16 cpu;
  uint16_t code_at = 0;
  explicit DosLibrary(const std::string& library = DOS_LIBRARY) {
    EXPECT_TRUE(cpu.load_com(library + ".COM", library + ".MAP"));
    EXPECT_LT(cpu.symbol("__end"), target_at);
  }
  void place(const Sprite& s) {
    code_at = cpu16_place_sprite(cpu, s.sprite, s.file.size(), data_at, sprite_at);
    ASSERT_LT(code_at, data_end);
  }
};

// kob_compiled_size and kob_compile, run here or on the emulated PC: the
// size, and what a buffer of `size` bytes (filled with 0xEE) holds after.
struct Compiled {
  kob_size size;
  int written;
  Bytes code;
};

Compiled compile_here(const Sprite& s, kob_size size) {
  Compiled out{kob_compiled_size(&s.sprite), 0, Bytes(size, 0xEE)};
  out.written = kob_compile(&s.sprite, out.code.data(), size);
  return out;
}

Compiled compile_under_bcc(DosLibrary& dos, const Sprite& s, kob_size size) {
  dos.place(s);
  dos.cpu.poke(dos.code_at, Bytes(size, 0xEE));
  Cpu16Counts counted = dos.cpu.call(dos.cpu.symbol("_kob_compiled_size"), {sprite_at});
  Cpu16Counts compiled =
      dos.cpu.call(dos.cpu.symbol("_kob_compile"),
                   {sprite_at, dos.code_at, static_cast<uint16_t>(size), static_cast<uint16_t>(size >> 16)});
  EXPECT_TRUE(counted.returned && compiled.returned) << counted.error << compiled.error;
  // bcc returns a long in BX:AX; the sizes here fit the low word.
  return {counted.ax, compiled.ax != 0, dos.cpu.peek(dos.code_at, size)};
}

// Each row's code from both builds of the generator: its size and its last
// bytes (all of them in the first row); with one byte too few nothing is
// written, and code over 64 KiB is never written.
TEST(Compiled, WritesTheCode) {
  struct Row {
    const char* what;
    uint32_t width, height;
    Bytes pixels;  // row by row, 0 transparent
    size_t size;
    Bytes tail;
  };
  const Row rows[] = {
      {"2 x 2 opaque: two classes, a byte store per row; the driver for x mod 4 = 3 steps DI past plane 3",
       2,
       2,
       {1, 2, 3, 4},
       95,
       {16,   0,    31, 0,    46,   0,    61, 0,  // where the drivers start
        80,   0,    80, 0,    80,   0,    81, 0,  // the last byte covered, for each x mod 4
        0xB8, 2,    1,  0xEF, 0xE8, 54,   0,  0xB8, 2,    2, 0xEF, 0xE8, 56,   0,  0xCB,        // planes 0, 1
        0xB8, 2,    2,  0xEF, 0xE8, 39,   0,  0xB8, 2,    4, 0xEF, 0xE8, 41,   0,  0xCB,        // 1, 2
        0xB8, 2,    4,  0xEF, 0xE8, 24,   0,  0xB8, 2,    8, 0xEF, 0xE8, 26,   0,  0xCB,        // 2, 3
        0xB8, 2,    8,  0xEF, 0xE8, 9,    0,  0xB8, 2,    1, 0xEF, 0x47, 0xE8, 10, 0,    0xCB,  // 3, inc di, 0
        0xC6, 0x45, 0,  1,    0xC6, 0x45, 80, 3,    0xC3,    // class 0: [di+0], [di+80]
        0xC6, 0x45, 0,  2,    0xC6, 0x45, 80, 4,    0xC3}},  // class 1
      {"columns 0 and 4 side by side on row 1 are one word store; 4's row 0 a byte at [di+1]",
       5,
       2,
       {0, 0, 0, 0, 7, 5, 0, 0, 0, 6},
       148,
       {0xC7, 0x45, 80, 5, 6, 0xC6, 0x45, 1, 7, 0xC3, 0xC3, 0xC3, 0xC3}},
      {"a run of three in one class: a word, then a byte; row 2 needs a 16-bit displacement",
       9,
       3,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6},
       150,
       {0xC7, 0x85, 160, 0, 4, 5, 0xC6, 0x85, 162, 0, 6, 0xC3, 0xC3, 0xC3, 0xC3}},
  };
  DosLibrary dos;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Sprite s = open_sprite(row.pixels, row.width, row.height);
    for (bool bcc : {false, true}) {
      SCOPED_TRACE(bcc ? "bcc's generator" : "the host's generator");
      auto compile = [&](kob_size size) { return bcc ? compile_under_bcc(dos, s, size) : compile_here(s, size); };
      Compiled fits = compile(row.size), short_by_one = compile(row.size - 1);
      EXPECT_EQ(fits.size, row.size);
      EXPECT_TRUE(fits.written);
      EXPECT_EQ(Bytes(fits.code.end() - row.tail.size(), fits.code.end()), row.tail);
      EXPECT_FALSE(short_by_one.written);
      EXPECT_EQ(short_by_one.code, Bytes(row.size - 1, 0xEE));
    }
  }
  // Full-screen noise needs about 3 bytes a pixel: over the limit, never written.
  Bytes noise(320 * 200);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(1 + i * 7 % 253);
  Sprite s = open_sprite(noise, 320, 200);
  Compiled over = compile_here(s, 1 << 20);
  EXPECT_GT(over.size, static_cast<kob_size>(KOB_COMPILED_MAX));
  EXPECT_FALSE(over.written);
}

// One draw on the emulated PC on a background of 255: what it cost, the
// planes as it left them and the target's mask after.
struct Drawn {
  Cpu16Counts counts;
  Bytes planes;
  unsigned long overwrites;
  unsigned mask;
};

Drawn draw(DosLibrary& dos, const char* function, const kob_target& target, const std::vector<uint16_t>& arguments) {
  vga_model_reset(255);
  cpu16_place_target(dos.cpu, target, target_at);
  Cpu16Counts counts = dos.cpu.call(dos.cpu.symbol(function), arguments);
  EXPECT_TRUE(counts.returned) << function << ": " << counts.error;
  const uint8_t* planes = &vga.plane[0][0];
  return {counts, Bytes(planes, planes + sizeof vga.plane), vga.overwrites, cpu16_read_target(dos.cpu, target_at).mask};
}

// Every row drawn by kob_draw_compiled, in the library with the C drawer and
// in the one with the assembly strip drawer, and by the C drawer, all as bcc
// linked them: the same planes, nothing stored twice, the same plane selects and mask
// left in the target. A sprite wholly inside the clip rectangle runs its code
// at under one instruction per pixel, past a fixed cost under 200 (the C
// drawer takes 700 for a 2 x 2); any other goes to the strips, with code
// that would stop the run (INT3) if it were entered.
TEST(Compiled, DrawsWhatTheStripsDraw) {
  const kob_target screen = {0, 80, 0, 0, 320, 240, 0}, page2 = {38400, 80, 0, 0, 320, 240, 0};
  const kob_target window = {0, 80, 17, 9, 250, 201, 0}, tall = {0, 80, 0, 0, 320, 255, 0};
  const kob_target last_page = {60000, 80, 0, 0, 320, 240, 0}, wide = {0, 128, 0, 0, 512, 200, 0};
  const kob_target beyond = {0, 80, -50, -50, 320, 240, 0}, cached = {0, 80, 0, 0, 320, 240, 4};
  // A 37 x 23 sprite at (100, 0) whose last byte is FFFFh, and one past it.
  const kob_target to_the_end = {63741, 80, 0, 0, 320, 240, 0}, past_the_end = {63742, 80, 0, 0, 320, 240, 0};
  std::vector<std::tuple<uint32_t, uint32_t, int, int, kob_target, bool>> rows = {
      {37, 23, 100, 50, screen, true},
      {37, 23, 101, 50, screen, true},
      {37, 23, 102, 50, screen, true},
      {37, 23, 103, 50, screen, true},
      {2, 2, 0, 0, screen, true},
      {2, 2, 318, 238, screen, true},
      {3, 7, 317, 233, screen, true},
      {37, 23, 283, 217, screen, true},
      {37, 23, 284, 100, screen, false},
      {37, 23, 100, 218, screen, false},
      {37, 23, -1, 5, screen, false},
      {37, 23, 5, -1, screen, false},
      {37, 23, 17, 9, window, true},
      {37, 23, 16, 9, window, false},
      {37, 23, 213, 178, window, true},
      {37, 23, 214, 100, window, false},
      {37, 23, 100, 8, window, false},
      {37, 23, 100, 179, window, false},
      {40, 255, 280, 0, tall, true},
      {64, 64, 129, 100, page2, true},
      {37, 23, 102, 0, last_page, true},
      {37, 23, 102, 50, last_page, false},
      {37, 23, 100, 50, wide, false},
      {37, 23, -5, 10, beyond, false},
      {37, 23, 5, 10, beyond, true},
      {37, 23, 102, 50, cached, true},
      {37, 23, 100, 300, screen, false},
      {37, 23, 100, 0, to_the_end, true},
      {37, 23, 100, 0, past_the_end, false},
  };
  for (unsigned seed = 0; seed < 10; ++seed) {
    srand(200 + seed);
    uint32_t w = 2 + rand() % 90, h = 2 + rand() % 80;
    rows.push_back({w, h, rand() % (322 - int(w)) - 1, rand() % (242 - int(h)) - 1, seed % 2 ? screen : page2, true});
  }
  DosLibrary dos, assembly(DRAWER_COM);
  for (size_t i = 0; i < rows.size(); ++i) {
    auto [w, h, x, y, target, compiled] = rows[i];
    SCOPED_TRACE("row " + std::to_string(i));
    compiled = compiled && x >= 0 && y >= 0 && x + int(w) <= target.right && y + int(h) <= target.bottom;
    Sprite s = open_sprite(random_runs(w, h, unsigned(i)), w, h);
    Bytes code(kob_compiled_size(&s.sprite));
    ASSERT_TRUE(kob_compile(&s.sprite, code.data(), code.size()));
    // The header as written, every driver and body INT3.
    Bytes poisoned = code;
    std::fill(poisoned.begin() + KOB_COMPILED_HEADER_SIZE, poisoned.end(), 0xCC);
    uint16_t ux = static_cast<uint16_t>(x), uy = static_cast<uint16_t>(y);
    Drawn strips;
    for (DosLibrary* library : {&dos, &assembly}) {
      SCOPED_TRACE(library == &dos ? "with the C drawer" : "with the assembly drawer");
      library->place(s);
      ASSERT_LT(library->code_at + code.size(), data_end);
      library->cpu.poke(library->code_at, compiled ? code : poisoned);
      Drawn fast = draw(*library, "_kob_draw_compiled", target, {target_at, sprite_at, library->code_at, ux, uy});
      if (library == &dos) strips = draw(dos, "_kob_draw", target, {target_at, sprite_at, ux, uy});
      EXPECT_TRUE(fast.planes == strips.planes);
      EXPECT_EQ(std::make_tuple(fast.overwrites, fast.counts.selects, fast.mask),
                std::make_tuple(0ul, strips.counts.selects, strips.mask));
      unsigned long visible = std::count_if(fast.planes.begin(), fast.planes.end(), [](uint8_t b) { return b != 255; });
      if (compiled) {
        EXPECT_LT(fast.counts.instructions, visible + 200);
      }
    }
  }
}

// A bank's frame, 37 x 23 in a 44 x 30 cell with its hotspot at its feet,
// and its mirror image, drawn by kob_draw_frame_compiled in the library with
// the assembly drawers: the picture kob_draw_frame paints on the host, through
// the code where the frame's sprite is wholly on screen and drawn plain, and
// elsewhere, and for the mirrored frame, through the strips, with code that
// would stop the run if it were entered.
TEST(Compiled, DrawsBankFramesByTheirHotspots) {
  const Bytes sprite = kob_of(random_runs(37, 23, 7), 37, 23);
  const Bytes file = build_bank(44, 30, 2, {{1, 0, 3, 2, 20, 29, sprite}, {3, 0, 4, 2, 20, 29, {}}});
  kob_bank bank;
  kob_bank_fault fault;
  ASSERT_EQ(kob_bank_open(&bank, file.data(), file.size(), &fault), KOB_BANK_OK);
  const kob_target screen = {0, 80, 0, 0, 320, 240, 0}, window = {0, 80, 17, 9, 250, 201, 0};
  // (frame, x, y, target, compiled): the sprite's top-left corner is at
  // (x - 17, y - 27) for frame 0.
  const std::vector<std::tuple<unsigned, int, int, kob_target, bool>> rows = {
      {0, 117, 77, screen, true},  {0, 118, 77, screen, true},   {0, 119, 77, screen, true},
      {0, 120, 77, screen, true},  {0, 17, 27, screen, true},    {0, 16, 27, screen, false},
      {0, 300, 239, screen, true}, {0, 301, 100, screen, false}, {0, 100, 245, screen, false},
      {0, 34, 36, window, true},   {0, 34, 35, window, false},   {1, 117, 77, screen, false},
      {1, -5, 100, screen, false},
  };
  DosLibrary assembly(DRAWER_COM);
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& [n, x, y, target, compiled] = rows[i];
    SCOPED_TRACE("row " + std::to_string(i));
    std::vector<kob_size> strips(kob_bank_strips(&bank, n));
    kob_frame frame;
    ASSERT_EQ(kob_bank_frame(&bank, n, &frame, strips.data(), strips.size()), KOB_OK);
    Bytes code(kob_compiled_size(&frame.sprite));
    ASSERT_TRUE(kob_compile(&frame.sprite, code.data(), code.size()));
    if (!compiled) std::fill(code.begin() + KOB_COMPILED_HEADER_SIZE, code.end(), 0xCC);
    kob_target host = target;
    vga_model_reset(255);
    kob_draw_frame(&host, &frame, x, y);
    const Bytes painted(&vga.plane[0][0], &vga.plane[0][0] + sizeof vga.plane);
    const unsigned long visible = vga.stores;
    // The frame's descriptor in bcc's layout: the sprite's, then five ints.
    const uint16_t code_at = cpu16_place_sprite(assembly.cpu, frame.sprite, sprite.size(), data_at, sprite_at);
    const int fields[] = {frame.mirrored, frame.left, frame.top, frame.hotspot_x, frame.hotspot_y};
    for (int f = 0; f < 5; ++f) assembly.cpu.poke16(sprite_at + 8 + 2 * f, static_cast<uint16_t>(fields[f]));
    assembly.cpu.poke(code_at, code);
    Drawn drawn = draw(assembly, "_kob_draw_frame_compiled", target,
                       {target_at, sprite_at, code_at, static_cast<uint16_t>(x), static_cast<uint16_t>(y)});
    EXPECT_TRUE(drawn.planes == painted);
    EXPECT_EQ(drawn.overwrites, 0ul);
    if (compiled) {
      EXPECT_LT(drawn.counts.instructions, visible + 250);
    }
  }
}

}  // namespace

// Compiled sprites: the code kob_compile writes, byte for byte, from the host
// build and from bcc's, and the 32-bit code from flat32/libmodex32.a's on the
// emulated 386; and that code drawn through kob_draw_compiled on each
// emulated CPU against the C drawer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "drawing_cpu.h"
#include "modex/kobbank.h"
#include "modex/kobcomp.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

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

#ifdef DOS_LIBRARY
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

Compiled compile_under_bcc(Dos16& dos, const Sprite& s, kob_size size) {
  uint32_t code_at = dos.place(s.sprite, s.file.size());
  EXPECT_LT(code_at + size, dos.data_end);
  dos.poke(code_at, Bytes(size, 0xEE));
  Cpu16Counts counted = dos.call("kob_compiled_size", {dos.sprite_at});
  Cpu16Counts compiled =
      dos.call("kob_compile", {dos.sprite_at, code_at, uint32_t(size & 0xFFFF), uint32_t(size >> 16)});
  EXPECT_TRUE(counted.returned && compiled.returned) << counted.error << compiled.error;
  // bcc returns a long in BX:AX; the sizes here fit the low word.
  return {counted.ax, compiled.ax != 0, dos.peek(code_at, size)};
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
  Dos16 dos(DOS_LIBRARY);
  ASSERT_TRUE(dos.loaded);
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

#endif

#ifdef FLAT32_DRIVER
// The 32-bit code of flat32/libmodex32.a's generator on the 386: each row's
// size and bytes after the header (all of them in the first row); with one
// byte too few nothing is written.
TEST(Compiled, WritesThe32BitCode) {
  struct Row {
    const char* what;
    uint32_t width, height;
    Bytes pixels;  // row by row, 0 transparent
    size_t size;
    Bytes tail;
  };
  const Row rows[] = {
      {"2 x 2 opaque: selects with the operand-size prefix, calls, the last class jumped to, inc edi past plane 3",
       2,
       2,
       {1, 2, 3, 4},
       139,
       {0x20, 0,    0, 0, 0x36, 0,    0,    0,    0x4C, 0,    0, 0, 0x62, 0,    0, 0,  // the drivers
        0xAF, 0xFF, 0, 0, 0xAF, 0xFF, 0,    0,    0xAF, 0xFF, 0, 0, 0xAE, 0xFF, 0, 0,  // 65535 less the last byte
        0x66, 0xB8, 2, 1, 0x66, 0xEF, 0xE8, 0x4E, 0,    0,    0,                       // x mod 4 = 0: plane 0, call
        0x66, 0xB8, 2, 2, 0x66, 0xEF, 0xE9, 0x4C, 0,    0,    0,                       // plane 1, jump
        0x66, 0xB8, 2, 2, 0x66, 0xEF, 0xE8, 0x38, 0,    0,    0,                       // x mod 4 = 1
        0x66, 0xB8, 2, 4, 0x66, 0xEF, 0xE9, 0x36, 0,    0,    0,                       //
        0x66, 0xB8, 2, 4, 0x66, 0xEF, 0xE8, 0x22, 0,    0,    0,                       // x mod 4 = 2
        0x66, 0xB8, 2, 8, 0x66, 0xEF, 0xE9, 0x20, 0,    0,    0,                       //
        0x66, 0xB8, 2, 8, 0x66, 0xEF, 0xE8, 0x0C, 0,    0,    0,                       // x mod 4 = 3
        0x66, 0xB8, 2, 1, 0x66, 0xEF, 0x47, 0xE9, 9,    0,    0, 0,                    // plane 0 a byte on: inc edi
        0xC6, 0x47, 0, 1, 0xC6, 0x47, 80,   3,    0xC3,                                // class 0: [edi+0], [edi+80]
        0xC6, 0x47, 0, 2, 0xC6, 0x47, 80,   4,    0xC3}},                              // class 1
      {"four pixels of a plane row side by side are a doubleword; three a word and a byte, 32-bit displacements",
       13,
       3,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // row 0
        1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4,   // row 1
        5, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0, 0, 0},  // row 2
       238,
       {0xC7, 0x47, 80,   1,   2, 3, 4,        // row 1, columns 0, 4, 8 and 12
        0x66, 0xC7, 0x87, 160, 0, 0, 0, 5, 6,  // row 2, columns 0 and 4
        0xC6, 0x87, 162,  0,   0, 0, 7,        // and 8
        0xC3, 0xC3, 0xC3, 0xC3}},
  };
  Flat386 flat(FLAT32_DRIVER);
  ASSERT_TRUE(flat.loaded) << flat.cpu.error;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Sprite s = open_sprite(row.pixels, row.width, row.height);
    uint32_t code_at = flat.place(s.sprite, s.file.size());
    EXPECT_EQ(flat.call("kob_compiled_size", {flat.sprite_at}).eax, row.size);
    flat.poke(code_at, Bytes(row.size, 0xEE));
    EXPECT_TRUE(flat.compile(code_at, row.size - 1).empty());
    EXPECT_EQ(flat.peek(code_at, row.size), Bytes(row.size, 0xEE));
    Bytes code = flat.compile(code_at, row.size);
    ASSERT_EQ(code.size(), row.size);
    EXPECT_EQ(Bytes(code.end() - row.tail.size(), code.end()), row.tail);
  }
}
#endif

// One draw on an emulated CPU on a background of 255: what it cost, the
// planes as it left them and the map mask after.
struct Drawn {
  Cpu16Counts counts;
  Bytes planes;
  unsigned long overwrites;
  unsigned mask;
};

Drawn draw(DrawingCpu& cpu, const char* function, const kob_target& target, const std::vector<uint32_t>& arguments) {
  vga_model_reset(255);
  cpu.place_target(target);
  Cpu16Counts counts = cpu.call(function, arguments);
  EXPECT_TRUE(counts.returned) << function << ": " << counts.error;
  const uint8_t* planes = &vga.plane[0][0];
  return {counts, Bytes(planes, planes + sizeof vga.plane), vga.overwrites, cpu.read_target().mask};
}

// Every row drawn by kob_draw_compiled in each library, the DOS ones with the
// C drawer and with the assembly strip drawer and the 32-bit one, each with
// the code its own generator wrote, and by the C drawer here: the same
// planes, nothing stored twice, the same plane selects and map mask left
// selected. A sprite wholly inside the clip rectangle runs its code
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
  auto cpus = drawing_cpus(true);
  for (auto& cpu : cpus) ASSERT_TRUE(cpu->loaded) << cpu->name;
  for (size_t i = 0; i < rows.size(); ++i) {
    auto [w, h, x, y, target, compiled] = rows[i];
    SCOPED_TRACE("row " + std::to_string(i));
    compiled = compiled && x >= 0 && y >= 0 && x + int(w) <= target.right && y + int(h) <= target.bottom;
    Sprite s = open_sprite(random_runs(w, h, unsigned(i)), w, h);
    kob_target here = target;
    vga_model_reset(255);
    kob_map_mask = target.mask;
    kob_draw(&here, &s.sprite, x, y);
    Bytes expected(&vga.plane[0][0], &vga.plane[0][0] + sizeof vga.plane);
    const auto strips = std::make_tuple(0ul, vga.selects, kob_map_mask);
    uint32_t ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
    for (auto& cpu : cpus) {
      SCOPED_TRACE(cpu->name);
      uint32_t code_at = cpu->place(s.sprite, s.file.size());
      kob_size size = cpu->call("kob_compiled_size", {cpu->sprite_at}).eax;
      ASSERT_LT(code_at + size, cpu->data_end);
      Bytes code = cpu->compile(code_at, size);
      ASSERT_EQ(code.size(), size);
      // The header as written (the first driver starts past it), every
      // driver and body INT3.
      if (!compiled) {
        std::fill(code.begin() + code[0], code.end(), 0xCC);
        cpu->poke(code_at, code);
      }
      Drawn fast = draw(*cpu, "kob_draw_compiled", target, {cpu->target_at, cpu->sprite_at, code_at, ux, uy});
      EXPECT_TRUE(fast.planes == expected);
      EXPECT_EQ(std::make_tuple(fast.overwrites, fast.counts.selects, fast.mask), strips);
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
#ifdef DRAWER_COM
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
  Dos16 assembly(DRAWER_COM);
  ASSERT_TRUE(assembly.loaded);
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
    const uint32_t code_at = assembly.place(frame.sprite, sprite.size());
    const int fields[] = {frame.mirrored, frame.left, frame.top, frame.hotspot_x, frame.hotspot_y};
    for (int f = 0; f < 5; ++f) {
      assembly.cpu.poke16(static_cast<uint16_t>(assembly.sprite_at + 8 + 2 * f), static_cast<uint16_t>(fields[f]));
    }
    assembly.poke(code_at, code);
    Drawn drawn =
        draw(assembly, "kob_draw_frame_compiled", target,
             {assembly.target_at, assembly.sprite_at, code_at, static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
    EXPECT_TRUE(drawn.planes == painted);
    EXPECT_EQ(drawn.overwrites, 0ul);
    if (compiled) {
      EXPECT_LT(drawn.counts.instructions, visible + 250);
    }
  }
}
#endif

}  // namespace

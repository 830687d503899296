// Compiled sprites: the code kob_compile writes, byte for byte, from the host
// build and from bcc's; and that code drawn through kob_draw_compiled on the
// emulated PC against the C drawer of the same DOS library.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "cpu16.h"
#include "modex/kobcomp.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

// Where the descriptors, the sprite file (its strip table after it) and then
// the code go in the data segment; the stack is at its top.
constexpr uint16_t target_at = 0x0400, sprite_at = 0x0410, data_at = 0x0800, data_end = 0xF000;

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
  DosLibrary() { EXPECT_TRUE(cpu.load_com(DOS_LIBRARY ".COM", DOS_LIBRARY ".MAP")); }
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

// Each row's code byte for byte from both builds of the generator; with one
// byte too few nothing is written, and code over 64 KiB is never written.
TEST(Compiled, WritesTheCode) {
  struct Row {
    const char* what;
    uint32_t width, height;
    Bytes pixels;  // row by row, 0 transparent
    Bytes code;
  };
  const Row rows[] = {
      {"2 x 2 opaque: classes 0 and 1 a byte store per row, 2 and 3 empty",
       2,
       2,
       {1, 2, 3, 4},
       {8,    0,    17, 0, 26,   0,    27, 0,                      // where the bodies start
        0xC6, 0x45, 0,  1, 0xC6, 0x45, 80, 3, 0xCB,                // class 0: [di+0], [di+80]
        0xC6, 0x45, 0,  2, 0xC6, 0x45, 80, 4, 0xCB, 0xCB, 0xCB}},  // class 1; 2; 3
      {"columns 0 and 4 side by side on row 1 are one word store; 4's row 0 a byte at [di+1]",
       5,
       2,
       {0, 0, 0, 0, 7, 5, 0, 0, 0, 6},
       {8, 0, 18, 0, 19, 0, 20, 0, 0xC7, 0x45, 80, 5, 6, 0xC6, 0x45, 1, 7, 0xCB, 0xCB, 0xCB, 0xCB}},
      {"a run of three in one class: a word, then a byte; row 2 needs a 16-bit displacement",
       9,
       3,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6},
       {8, 0, 20, 0, 21, 0, 22, 0, 0xC7, 0x85, 160, 0, 4, 5, 0xC6, 0x85, 162, 0, 6, 0xCB, 0xCB, 0xCB, 0xCB}},
  };
  DosLibrary dos;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Sprite s = open_sprite(row.pixels, row.width, row.height);
    for (bool bcc : {false, true}) {
      SCOPED_TRACE(bcc ? "bcc's generator" : "the host's generator");
      auto compile = [&](kob_size size) { return bcc ? compile_under_bcc(dos, s, size) : compile_here(s, size); };
      Compiled fits = compile(row.code.size()), short_by_one = compile(row.code.size() - 1);
      EXPECT_EQ(fits.size, row.code.size());
      EXPECT_TRUE(fits.written);
      EXPECT_EQ(fits.code, row.code);
      EXPECT_FALSE(short_by_one.written);
      EXPECT_EQ(short_by_one.code, Bytes(row.code.size() - 1, 0xEE));
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

}  // namespace

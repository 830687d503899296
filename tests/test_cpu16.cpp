// The emulated PC itself: hand-assembled code for the calling convention,
// stores through the map mask, Sequencer OUTs and the counts; and a whole
// program under its DOS services.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "cpu16.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

struct Landed {
  unsigned plane, offset, value;
};

TEST(Cpu16, RunsAndCounts) {
  struct Expected {
    uint64_t instructions, stores, selects;
    uint16_t ax;
  };
  struct Row {
    const char* what;
    std::vector<uint8_t> code;
    std::vector<uint16_t> arguments;
    std::vector<uint8_t> data;  // at 200h of the data segment
    Expected expected;
    std::vector<Landed> landed;
  };
  const Row rows[] = {
      {"mov bx,sp / mov ax,[bx+2] / sub ax,[bx+4] / ret: the first argument at [sp+2]",
       {0x89, 0xe3, 0x8b, 0x47, 0x02, 0x2b, 0x47, 0x04, 0xc3},
       {10, 3},
       {},
       {4, 0, 0, 7},
       {}},
      {"a word OUT selects planes 0 and 2; one byte stored through es=A000h lands in both",
       {0xba, 0xc4, 0x03, 0xb8, 0x02, 0x05, 0xef, 0x06, 0xb8, 0x00, 0xa0,
        0x8e, 0xc0, 0x26, 0xc6, 0x06, 0x10, 0x00, 0x33, 0x07, 0xc3},
       {},
       {},
       {9, 1, 1, 0xA000},
       {{0, 0x10, 0x33}, {2, 0x10, 0x33}}},
      {"byte OUTs: the map mask (planes 2, 3) counts, the memory mode not; a word store, then rep stosb x 5",
       {0xb0, 0x02, 0xba, 0xc4, 0x03, 0xee, 0x42, 0xb0, 0x0c, 0xee, 0x4a, 0xb0, 0x04, 0xee, 0x42,
        0xb0, 0x06, 0xee, 0x06, 0x68, 0x00, 0xa0, 0x07, 0xbf, 0x00, 0x01, 0x26, 0xc7, 0x05, 0x11,
        0x22, 0xb9, 0x05, 0x00, 0xb0, 0x44, 0xbf, 0x20, 0x00, 0xf3, 0xaa, 0x07, 0xc3},
       {},
       {},
       {27, 6, 1, 0x0044},
       {{2, 0x100, 0x11},
        {3, 0x100, 0x11},
        {2, 0x101, 0x22},
        {3, 0x101, 0x22},
        {2, 0x20, 0x44},
        {3, 0x20, 0x44},
        {2, 0x21, 0x44},
        {3, 0x21, 0x44},
        {2, 0x22, 0x44},
        {3, 0x22, 0x44},
        {2, 0x23, 0x44},
        {3, 0x23, 0x44},
        {2, 0x24, 0x44},
        {3, 0x24, 0x44}}},
      {"a far call to code in the data segment (mov ax,1234h / retf), and back",
       {0xc7, 0x06, 0x00, 0x03, 0x00, 0x02, 0x8c, 0x1e, 0x02, 0x03, 0xff, 0x1e, 0x00, 0x03, 0xc3},
       {},
       {0xb8, 0x34, 0x12, 0xcb},
       {6, 0, 0, 0x1234},
       {}},
  };
  Cpu16 cpu;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    vga_model_reset(0);
    cpu.load_code(0x100, row.code);
    cpu.poke(0x200, row.data);
    Cpu16Counts got = cpu.call(0x100, row.arguments);
    ASSERT_TRUE(got.returned) << got.error;
    EXPECT_EQ(std::tie(got.instructions, got.stores, got.selects, got.ax),
              std::tie(row.expected.instructions, row.expected.stores, row.expected.selects, row.expected.ax));
    EXPECT_EQ(vga_model_bytes_written(), row.landed.size());
    for (const Landed& byte : row.landed) EXPECT_EQ(vga.plane[byte.plane][byte.offset], byte.value);
  }
}

// Code that never returns is stopped at the limit and said so.
TEST(Cpu16, StopsAtItsLimit) {
  Cpu16 cpu;
  cpu.load_code(0x100, {0xeb, 0xfe});  // jmp $
  Cpu16Counts got = cpu.call(0x100, {}, 1000);
  EXPECT_FALSE(got.returned);
  EXPECT_EQ(got.instructions, 1000u);
}

#ifdef KOBVIEW_COM
// A whole program under the DOS services: KOBVIEW reads its sprite, draws it
// and dumps the page through Read Map Select, or refuses a missing file with
// one line and errorlevel 1, writing no dump.
TEST(Cpu16, RunsAProgramUnderDos) {
  const Bytes pixels = random_runs(23, 17, 5);
  std::string dir = scratch_path("dos");
  mkdir(dir.c_str(), 0755);
  write_bytes(dir + "/SPRITE.KOB", kob_of(pixels, 23, 17));
  Bytes painted(320 * 240, 4);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23; ++x)
      if (uint8_t pixel = pixels[y * 23 + x]) painted[(20 + y) * 320 + 10 + x] = pixel;
  struct Row {
    const char* tail;
    int exit_code;
    bool says_something;
    bool dumped;
  };
  const Row rows[] = {
      {" /B:4 /D:OUT.BIN sprite.kob@10,20", 0, false, true},
      {" /B:4 /D:OUT.BIN MISSING.KOB", 1, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tail);
    unlink((dir + "/OUT.BIN").c_str());
    Cpu16 cpu;
    vga_model_reset(0);
    Cpu16::DosRun run = cpu.run_com(KOBVIEW_COM, row.tail, dir);
    ASSERT_TRUE(run.counts.returned) << run.counts.error;
    EXPECT_EQ(run.exit_code, row.exit_code);
    EXPECT_EQ(!run.output.empty(), row.says_something) << run.output;
    EXPECT_EQ(file_exists(dir + "/OUT.BIN"), row.dumped);
    if (row.dumped) {
      Bytes dump = read_bytes(dir + "/OUT.BIN");
      ASSERT_GE(dump.size(), painted.size());
      EXPECT_TRUE(std::equal(painted.begin(), painted.end(), dump.begin()));
    }
  }
}
#endif

}  // namespace

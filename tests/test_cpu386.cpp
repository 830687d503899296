// The emulated 386 itself: hand-assembled 32-bit code for the calling
// convention, stores of every width through the map mask, OUTs and the
// counts, and the faults a called function is caught in.
#include <gtest/gtest.h>

#include <tuple>

#include "cpu386.h"
#include "modex/vgamodel.h"

namespace {

constexpr uint32_t code_at = cpu386_data;

TEST(Cpu386, RunsAndCounts) {
  struct Landed {
    unsigned plane, offset, value;
  };
  struct Row {
    const char* what;
    std::vector<uint8_t> code;
    std::vector<uint32_t> arguments;
    // instructions, stores, selects, eax; or, when the run must fail, the
    // start of its error
    uint64_t instructions, stores, selects;
    uint32_t eax;
    std::vector<Landed> landed;
    std::string error = "";
  };
  const Row rows[] = {
      {"mov eax,[esp+4] / sub eax,[esp+8] / ret: cdecl, the first argument at [esp+4]",
       {0x8b, 0x44, 0x24, 0x04, 0x2b, 0x44, 0x24, 0x08, 0xc3},
       {100000, 3},
       3,
       0,
       0,
       99997,
       {}},
      {"a word OUT selects planes 1 and 3; a dword store at A0010h lands in both, byte by byte",
       {0x66, 0xba, 0xc4, 0x03, 0x66, 0xb8, 0x02, 0x0a, 0x66, 0xef, 0xc7,
        0x05, 0x10, 0x00, 0x0a, 0x00, 0x11, 0x22, 0x33, 0x44, 0xc3},
       {},
       5,
       1,
       1,
       0x0a02,
       {{1, 0x10, 0x11}, {3, 0x10, 0x11}, {1, 0x13, 0x44}, {3, 0x13, 0x44}}},
      {"byte OUTs: the map mask (plane 2) counts, the memory mode not; rep stosd x 2 is two stores",
       {0xba, 0xc4, 0x03, 0x00, 0x00, 0xb0, 0x04, 0xee, 0x42, 0xb0, 0x06, 0xee, 0x4a, 0xb0,
        0x02, 0xee, 0x42, 0xb0, 0x04, 0xee, 0x57, 0xbf, 0xf8, 0xff, 0x0a, 0x00, 0xb9, 0x02,
        0x00, 0x00, 0x00, 0xb8, 0x55, 0x66, 0x77, 0x88, 0xfc, 0xf3, 0xab, 0x5f, 0xc3},
       {},
       21,
       2,
       1,
       0x88776655,
       {{2, 0xfff8, 0x55}, {2, 0xfffb, 0x88}, {2, 0xfffc, 0x55}, {2, 0xffff, 0x88}}},
      {"mov ebx,1 / ret: a callee-saved register clobbered",
       {0xbb, 0x01, 0x00, 0x00, 0x00, 0xc3},
       {},
       0,
       0,
       0,
       0,
       {},
       "a callee-saved register"},
      {"std / ret: the direction flag left set", {0xfd, 0xc3}, {}, 0, 0, 0, 0, {}, "the direction flag"},
      {"ret 4: the stack unbalanced", {0xc2, 0x04, 0x00}, {}, 0, 0, 0, 0, {}, "the stack"},
      {"int 21h: no DOS here", {0xb4, 0x4c, 0xcd, 0x21, 0xc3}, {}, 0, 0, 0, 0, {}, "interrupt 33"},
      {"a load from address 0", {0x8b, 0x05, 0x00, 0x00, 0x00, 0x00, 0xc3}, {}, 0, 0, 0, 0, {}, "Invalid memory"},
  };
  Cpu386 cpu;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    vga_model_reset(0);
    cpu.poke(code_at, row.code);
    Cpu16Counts got = cpu.call(code_at, row.arguments);
    if (!row.error.empty()) {
      EXPECT_FALSE(got.returned);
      EXPECT_EQ(got.error.substr(0, row.error.size()), row.error) << got.error;
      continue;
    }
    ASSERT_TRUE(got.returned) << got.error;
    EXPECT_EQ(std::tie(got.instructions, got.stores, got.selects, got.eax),
              std::tie(row.instructions, row.stores, row.selects, row.eax));
    for (const Landed& byte : row.landed) EXPECT_EQ(vga.plane[byte.plane][byte.offset], byte.value);
  }
}

TEST(Cpu386, StopsAtItsLimit) {
  Cpu386 cpu;
  cpu.poke(code_at, {0xeb, 0xfe});  // jmp $
  Cpu16Counts got = cpu.call(code_at, {}, 1000);
  EXPECT_FALSE(got.returned);
  EXPECT_EQ(got.instructions, 1000u);
}

// Programs that are no static i386 executable are refused with the reason.
TEST(Cpu386, RefusesWhatItCannotLoad) {
  std::vector<uint8_t> header(52, 0);
  const uint8_t ident[] = {0x7f, 'E', 'L', 'F', 1, 1};
  std::copy(std::begin(ident), std::end(ident), header.begin());
  header[16] = 2;
  header[18] = 3;
  auto with = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> bytes = header;
    bytes[at] = value;
    return bytes;
  };
  struct Row {
    std::vector<uint8_t> file;
    const char* error;
  };
  const Row rows[] = {
      {{}, "cannot be read"},
      {with(4, 2), "not a 32-bit little-endian ELF file"},
      {with(18, 62), "not an i386 executable"},
      {with(16, 3), "not an i386 executable"},
      {header, "nothing to load"},
  };
  for (const Row& row : rows) {
    std::string path = ::testing::TempDir() + "/cpu386.elf";
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    if (!row.file.empty()) fwrite(row.file.data(), 1, row.file.size(), file);
    fclose(file);
    Cpu386 cpu;
    EXPECT_FALSE(cpu.load_elf(row.file.empty() ? path + ".missing" : path));
    EXPECT_NE(cpu.error.find(row.error), std::string::npos) << cpu.error;
  }
}

}  // namespace

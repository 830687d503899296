// flat32/libmodex32.a, the library as an i386 gcc builds it for 32-bit flat
// protected mode, run on the emulated 386 and held against the host build on
// the same VGA model: the screen functions, the C drawer and the checker.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "cpu386.h"
#include "modex/modex.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

// Where the tests' buffers lie in the 386's memory.
constexpr uint32_t in_at = cpu386_data, out_at = cpu386_data + 0x1000;

struct Flat32 : ::testing::Test {
  Cpu386 cpu;
  void SetUp() override { ASSERT_TRUE(cpu.load_elf(FLAT32_DRIVER)) << cpu.error; }
  void run(const char* function, const std::vector<uint32_t>& arguments) {
    Cpu16Counts got = cpu.call(cpu.symbol(function), arguments);
    ASSERT_TRUE(got.returned) << function << ": " << got.error;
  }
};

// What the screen functions leave in the model, counts of OUTs included.
struct Screen {
  Bytes planes, dac, registers;
  std::tuple<unsigned, unsigned, unsigned long, unsigned long, unsigned, unsigned long> state;
  bool operator==(const Screen&) const = default;
};

Screen screen() {
  Bytes registers(vga.sequencer, vga.sequencer + sizeof vga.sequencer);
  registers.insert(registers.end(), vga.graphics, vga.graphics + sizeof vga.graphics);
  registers.insert(registers.end(), vga.crtc, vga.crtc + sizeof vga.crtc);
  registers.push_back(vga.misc_output);
  return {Bytes(&vga.plane[0][0], &vga.plane[0][0] + sizeof vga.plane), Bytes(&vga.dac[0][0], &vga.dac[0][0] + 768),
          registers, std::make_tuple(vga.mode, vga.mask, vga.selects, vga.retraces, vga.shown, vga.late_starts)};
}

// Each row: the function with its arguments, as called here and on the 386,
// and how many bytes of `out` it writes.
TEST_F(Flat32, ScreenFunctionsAsTheHostBuild) {
  Bytes rgb(768);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 37 + i / 3);
  struct Row {
    const char* function;
    std::vector<uint32_t> arguments;
    std::function<void(uint8_t*)> here;
    size_t written;
  };
  const Row rows[] = {
      {"modex_enter", {}, [](uint8_t*) { modex_enter(); }, 0},
      {"modex_fill", {19200, 19200, 7}, [](uint8_t*) { modex_fill(19200, 19200, 7); }, 0},
      {"modex_fill", {65535, 1, 200}, [](uint8_t*) { modex_fill(65535, 1, 200); }, 0},
      {"modex_set_palette", {in_at, 10, 200}, [&](uint8_t*) { modex_set_palette(rgb.data(), 10, 200); }, 0},
      {"modex_set_palette", {in_at, 0, 256}, [&](uint8_t*) { modex_set_palette(rgb.data(), 0, 256); }, 0},
      {"modex_get_palette", {out_at, 5, 30}, [](uint8_t* out) { modex_get_palette(out, 5, 30); }, 90},
      {"modex_copy", {100, 40000, 300}, [](uint8_t*) { modex_copy(100, 40000, 300); }, 0},
      {"modex_copy", {19200, 0, 19200}, [](uint8_t*) { modex_copy(19200, 0, 19200); }, 0},
      {"modex_read_row", {40000, 1, out_at}, [](uint8_t* out) { modex_read_row(40000, 1, out); }, 320},
      {"modex_read_row", {57600, 97, out_at}, [](uint8_t* out) { modex_read_row(57600, 97, out); }, 320},
      {"modex_write_row", {57600, 100, in_at}, [&](uint8_t*) { modex_write_row(57600, 100, rgb.data()); }, 0},
      {"modex_write_row", {0, 239, in_at + 7}, [&](uint8_t*) { modex_write_row(0, 239, rgb.data() + 7); }, 0},
      {"modex_show", {19200}, [](uint8_t*) { modex_show(19200); }, 0},
      {"modex_show", {0x1234}, [](uint8_t*) { modex_show(0x1234); }, 0},
      {"modex_wait_retrace", {}, [](uint8_t*) { modex_wait_retrace(); }, 0},
      {"modex_leave", {}, [](uint8_t*) { modex_leave(); }, 0},
  };
  cpu.poke(in_at, rgb);
  for (unsigned phase : {0u, 3u, 6u}) {
    for (size_t end = 1; end <= std::size(rows); ++end) {
      SCOPED_TRACE("up to " + std::to_string(end) + ", " + rows[end - 1].function + ", phase " + std::to_string(phase));
      // The rows up to `end` from the same start: here, then on the 386.
      Bytes expected_out(320, 0xEE), got_out;
      patterned_vga(phase);
      for (size_t i = 0; i < end; ++i) rows[i].here(expected_out.data());
      Screen expected = screen();
      patterned_vga(phase);
      cpu.poke(out_at, Bytes(320, 0xEE));
      for (size_t i = 0; i < end; ++i) run(rows[i].function, rows[i].arguments);
      expected_out.resize(rows[end - 1].written);
      EXPECT_TRUE(screen() == expected);
      EXPECT_EQ(cpu.peek(out_at, expected_out.size()), expected_out);
    }
  }
}

}  // namespace

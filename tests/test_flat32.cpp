// flat32/libmodex32.a, the library as an i386 gcc builds it for 32-bit flat
// protected mode, run on the emulated 386 and held against the host build on
// the same VGA model: the screen functions, the C drawer and the checker.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "cpu386.h"
#include "drawer_cases.h"
#include "modex/modex.h"
#include "modex/vgamodel.h"
#include "support.h"

namespace {

// Where the tests' buffers, the target, the sprite's descriptor and the
// sprite file with its strip table lie in the 386's memory.
constexpr uint32_t in_at = cpu386_data, out_at = cpu386_data + 0x1000, target_at = cpu386_data + 0x2000,
                   sprite_at = cpu386_data + 0x2100, data_at = cpu386_data + 0x3000;

// A program of the 32-bit library on its own emulated 386.
struct Program {
  Cpu386 cpu;
  explicit Program(const char* path) { EXPECT_TRUE(cpu.load_elf(path)) << cpu.error; }
  void run(const char* function, const std::vector<uint32_t>& arguments) {
    Cpu16Counts got = cpu.call(cpu.symbol(function), arguments);
    ASSERT_TRUE(got.returned) << function << ": " << got.error;
  }
};

struct Flat32 : ::testing::Test, Program {
  Flat32() : Program(FLAT32_DRIVER) {}
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

// The drawer of the 32-bit library as a game links it, and the C drawer
// built 32-bit, against the host's C drawer: the same planes, stores,
// overwrites, plane selects and recorded map mask.
TEST(Flat32Drawers, DrawAsTheHostCDrawer) {
  for (const char* path : {FLAT32_DRIVER, FLAT32_C_DRAWER}) {
    SCOPED_TRACE(path);
    Program program(path);
    Cpu386& cpu = program.cpu;
    const std::vector<DrawCase> cases = draw_cases();
    for (size_t i = 0; i < cases.size(); ++i) {
      const DrawCase& c = cases[i];
      SCOPED_TRACE("row " + std::to_string(i));
      Bytes file = kob_of(paint(c.kind, c.width, c.height, static_cast<unsigned>(i)), c.width, c.height);
      kob_sprite sprite;
      kob_fault fault;
      std::vector<kob_size> strips(c.width);
      ASSERT_EQ(kob_open(&sprite, file.data(), file.size(), strips.data(), c.width, &fault), KOB_OK);
      ASSERT_LT(cpu386_place_sprite(cpu, sprite, file.size(), data_at, sprite_at), cpu386_data_end);
      for (Mode mode : {plain, mirrored, strip_by_strip}) {
        SCOPED_TRACE(mode_name(mode));
        Drawn expected = draw_here(sprite, c, mode);
        vga_model_reset(255);
        cpu386_place_target(cpu, c.clip, target_at);
        const uint32_t x = static_cast<uint32_t>(c.x), y = static_cast<uint32_t>(c.y);
        if (mode == strip_by_strip) {
          for (unsigned column : plane_order(c.x, c.width))
            program.run("kob_draw_strip",
                        {target_at, data_at + static_cast<uint32_t>(sprite.strip[column]), c.height, x + column, y});
        } else {
          program.run(mode == plain ? "kob_draw" : "kob_draw_mirrored", {target_at, sprite_at, x, y});
        }
        EXPECT_TRUE(drawn(cpu386_read_target(cpu, target_at).mask) == expected);
      }
    }
  }
}

// Every truncation of sound sprites, and every byte of them set to values
// that break a rule: kob_open built 32-bit refuses each as the host build
// does, with the same fault, and kob_problem words it the same.
TEST_F(Flat32, ChecksAsTheHostBuild) {
  constexpr uint32_t fault_at = out_at, text_at = out_at + 0x100, strips_at = out_at + 0x200;
  const Bytes sprites[] = {kob_of(paint(runs, 9, 13, 1), 9, 13), kob_of(paint(noise, 3, 130, 2), 3, 130),
                           kob_of(paint(sparse, 5, 255, 3), 5, 255), kob_of(paint(bands, 2, 2, 4), 2, 2)};
  struct Check {
    Bytes file;
    unsigned count;  // entries of the strip table
  };
  std::vector<Check> checks;
  for (const Bytes& sound : sprites) {
    for (size_t size = 0; size <= sound.size(); ++size)
      checks.push_back({Bytes(sound.begin(), sound.begin() + size), 511});
    for (size_t at = 0; at < sound.size(); ++at) {
      for (uint8_t value : {0, 1, 2, 127, 130, 254, 255}) {
        Bytes broken = sound;
        broken[at] = value;
        checks.push_back({broken, 511});
      }
    }
    checks.push_back({join({sound, {0}}), 511});
    checks.push_back({sound, sound[KOB_WIDTH_OFFSET] - 1u});
  }
  for (const Check& check : checks) {
    kob_sprite sprite;
    kob_fault fault{};
    std::vector<kob_size> strips(511);
    int code = kob_open(&sprite, check.file.data(), check.file.size(), strips.data(), check.count, &fault);
    char text[KOB_PROBLEM_SIZE];
    kob_problem(&fault, text);

    cpu.poke(data_at, check.file);
    cpu.poke(fault_at, Bytes(20, 0));  // as `fault` started
    Cpu16Counts got = cpu.call(cpu.symbol("kob_open"), {sprite_at, data_at, static_cast<uint32_t>(check.file.size()),
                                                        strips_at, check.count, fault_at});
    ASSERT_TRUE(got.returned) << got.error;
    run("kob_problem", {fault_at, text_at});
    const std::vector<uint32_t> fields = {static_cast<uint32_t>(fault.code), fault.strip,
                                          static_cast<uint32_t>(fault.offset), static_cast<uint32_t>(fault.value),
                                          fault.height};
    std::vector<uint32_t> got_fields;
    for (uint32_t i = 0; i < fields.size(); ++i) got_fields.push_back(cpu.peek32(fault_at + 4 * i));
    Bytes got_text = cpu.peek(text_at, strlen(text) + 1);
    ASSERT_EQ(got.eax, static_cast<uint32_t>(code));
    ASSERT_EQ(got_fields, fields) << text;
    ASSERT_EQ(std::string(got_text.begin(), got_text.end() - 1), text);
  }
}

}  // namespace

// The assembly strip drawer, linked by bcc and run on the emulated PC, held
// against the C drawer on the VGA model: the same planes, the same stores,
// overwrites and plane selects, the same mask left in the target, for sprites
// of every kind of record, at every x mod 4, past every edge, plain, mirrored
// and strip by strip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "cpu16.h"
#include "drawer_cases.h"
#include "modex/kob.h"
#include "modex/vgamodel.h"

namespace {

// Where the sprite and the target lie in the .COM's data segment, above the
// drawer's own data and below the stack.
constexpr uint16_t target_at = 0x3000, descriptor_at = 0x3010, data_at = 0x3100, stack_room = 0x800;

TEST(StripDrawer, DrawsAsTheCDrawer) {
  Cpu16 cpu;
  ASSERT_TRUE(cpu.load_com(DRAWER_COM ".COM", DRAWER_COM ".MAP"));
  ASSERT_LT(cpu.symbol("__end"), target_at);
  const uint16_t entry[] = {cpu.symbol("_kob_draw"), cpu.symbol("_kob_draw_mirrored")};
  const uint16_t draw_strip = cpu.symbol("_kob_draw_strip");

  const std::vector<DrawCase> cases = draw_cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const DrawCase& c = cases[i];
    SCOPED_TRACE("row " + std::to_string(i));
    Bytes file = kob_of(paint(c.kind, c.width, c.height, static_cast<unsigned>(i)), c.width, c.height);
    ASSERT_LT(data_at + file.size() + 4 * c.width, cpu16_stack_top - stack_room);
    kob_sprite sprite;
    kob_fault fault;
    std::vector<kob_size> strips(c.width);
    ASSERT_EQ(kob_open(&sprite, file.data(), file.size(), strips.data(), c.width, &fault), KOB_OK);
    cpu16_place_sprite(cpu, sprite, file.size(), data_at, descriptor_at);
    for (Mode mode : {plain, mirrored, strip_by_strip}) {
      SCOPED_TRACE(mode_name(mode));
      Drawn expected = draw_here(sprite, c, mode);

      vga_model_reset(255);
      cpu16_place_target(cpu, c.clip, target_at);
      std::vector<std::vector<uint16_t>> calls;
      if (mode == strip_by_strip) {
        for (unsigned column : plane_order(c.x, c.width)) {
          calls.push_back({target_at, static_cast<uint16_t>(data_at + sprite.strip[column]),
                           static_cast<uint16_t>(c.height), static_cast<uint16_t>(c.x + static_cast<int>(column)),
                           static_cast<uint16_t>(c.y)});
        }
      } else {
        calls.push_back({target_at, descriptor_at, static_cast<uint16_t>(c.x), static_cast<uint16_t>(c.y)});
      }
      for (const auto& arguments : calls) {
        Cpu16Counts run = cpu.call(mode == strip_by_strip ? draw_strip : entry[mode == mirrored], arguments);
        ASSERT_TRUE(run.returned) << run.error;
      }
      Drawn got = drawn(cpu16_read_target(cpu, target_at).mask);
      EXPECT_EQ(std::tie(got.stores, got.overwrites, got.selects, got.mask),
                std::tie(expected.stores, expected.overwrites, expected.selects, expected.mask));
      EXPECT_TRUE(got.planes == expected.planes);
    }
  }
}

}  // namespace

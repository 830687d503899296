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
#include "modex/kob.h"
#include "modex/vgamodel.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"
#include "support.h"

namespace {

// runs: runs of 1 to a dozen rows, a third transparent; noise: every pixel
// opaque and new, literals of up to 126; sparse: single pixels far apart,
// skips of up to 254; bands: runs of about 25 rows, on both sides of the
// longest record with a sequence of its own.
enum Kind { runs, noise, sparse, bands };

Bytes paint(Kind kind, uint32_t width, uint32_t height, unsigned seed) {
  srand(seed);
  Bytes pixels(width * height);
  uint8_t value = 0;
  for (uint32_t at = 0; at < pixels.size(); ++at) {
    // Column by column, so that runs lie along the strips.
    uint8_t& pixel = pixels[at % height * width + at / height];
    if (kind == noise) value = static_cast<uint8_t>(1 + rand() % 254);
    if (kind == sparse) value = rand() % 300 ? 0 : static_cast<uint8_t>(1 + rand() % 254);
    if (kind == runs && rand() % 5 == 0) value = rand() % 3 ? static_cast<uint8_t>(1 + rand() % 254) : 0;
    if (kind == bands && rand() % 25 == 0) value = rand() % 3 ? static_cast<uint8_t>(1 + rand() % 254) : 0;
    pixel = value;
  }
  return pixels;
}

Bytes compile(const Bytes& pixels, uint32_t width, uint32_t height) {
  transparent_color = 0;
  std::string path = scratch_path("drawer.kob");
  EXPECT_TRUE(load_pcx(build_pcx(pcx_of(pixels, width, height, width))) && decode_src_pcx() &&
              write_sprite(path.c_str(), src_image));
  release_image();
  return read_bytes(path);
}

// Where the sprite and the target lie in the .COM's data segment, above the
// drawer's own data and below the stack.
constexpr uint16_t target_at = 0x3000, descriptor_at = 0x3010, data_at = 0x3100, stack_room = 0x800;

struct Drawn {
  Bytes planes;
  unsigned long stores, overwrites, selects;
  unsigned mask;
};

Drawn drawn(unsigned mask) {
  return {Bytes(&vga.plane[0][0], &vga.plane[0][0] + sizeof vga.plane), vga.stores, vga.overwrites, vga.selects, mask};
}

enum Mode { plain, mirrored, strip_by_strip };

TEST(StripDrawer, DrawsAsTheCDrawer) {
  Cpu16 cpu;
  ASSERT_TRUE(cpu.load_com(DRAWER_COM ".COM", DRAWER_COM ".MAP"));
  ASSERT_LT(cpu.symbol("__end"), target_at);
  const uint16_t entry[] = {cpu.symbol("_kob_draw"), cpu.symbol("_kob_draw_mirrored")};
  const uint16_t draw_strip = cpu.symbol("_kob_draw_strip");

  const kob_target screen = {0, 80, 0, 0, 320, 240, 0}, page2 = {19200, 80, 0, 0, 320, 240, 0};
  const kob_target window = {0, 80, 17, 9, 250, 201, 0}, wide = {40000, 128, 0, 0, 512, 200, 0};
  const kob_target selected = {0, 80, 0, 0, 320, 240, 4};     // plane 2 selected before
  const kob_target beyond = {19200, 80, -6, -9, 100, 60, 0};  // edges left of and above the page
  // kind, width, height, x, y, target
  std::vector<std::tuple<Kind, uint32_t, uint32_t, int, int, kob_target>> rows = {
      {runs, 37, 23, 100, 100, screen},        {runs, 37, 23, 101, 100, selected}, {runs, 37, 23, 102, 100, screen},
      {runs, 37, 23, 103, 100, screen},        {noise, 40, 255, 140, -15, screen}, {noise, 41, 254, 141, 0, page2},
      {sparse, 200, 255, 50, -10, screen},     {sparse, 201, 255, 51, 0, window},  {runs, 60, 60, -45, -45, screen},
      {runs, 60, 60, 290, 215, screen},        {runs, 64, 64, -48, -48, screen},   {runs, 64, 64, 230, 170, window},
      {noise, 9, 130, 5, 100, window},         {runs, 2, 2, 318, 238, screen},     {runs, 2, 2, -1, -1, screen},
      {runs, 37, 23, -37, 0, screen},          {runs, 37, 23, 320, 10, screen},    {runs, 37, 23, 5, -23, screen},
      {runs, 37, 23, 5, 240, screen},          {runs, 200, 64, 400, 20, wide},     {noise, 80, 100, 210, -30, wide},
      {runs, 100, 200, -32767, 32767, screen}, {runs, 300, 100, 10, 70, page2},    {runs, 30, 30, 100, 100, screen},
      {runs, 37, 23, -7, -5, beyond},          {bands, 64, 200, 10, -37, screen},  {bands, 64, 200, 11, 100, screen},
      {bands, 50, 120, 30, 30, wide},
  };
  for (unsigned seed = 0; seed < 16; ++seed) {
    srand(500 + seed);
    Kind kind = static_cast<Kind>(seed % 3);
    uint32_t width = 2 + rand() % (kind == noise ? 120 : 300), height = 2 + rand() % 254;
    rows.push_back({kind, width, height, rand() % 500 - 250, rand() % 400 - 200, seed % 2 ? window : screen});
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& [kind, width, height, x, y, clip] = rows[i];
    SCOPED_TRACE("row " + std::to_string(i));
    Bytes file = compile(paint(kind, width, height, static_cast<unsigned>(i)), width, height);
    ASSERT_LT(data_at + file.size() + 4 * width, cpu16_stack_top - stack_room);
    kob_sprite sprite;
    kob_fault fault;
    std::vector<kob_size> strips(width);
    ASSERT_EQ(kob_open(&sprite, file.data(), file.size(), strips.data(), width, &fault), KOB_OK);
    cpu16_place_sprite(cpu, sprite, file.size(), data_at, descriptor_at);
    for (Mode mode : {plain, mirrored, strip_by_strip}) {
      SCOPED_TRACE(mode == plain ? "plain" : mode == mirrored ? "mirrored" : "strip by strip");
      // The columns of a streamed draw, in plane order.
      std::vector<unsigned> order;
      for (unsigned plane = 0; plane < 4; ++plane)
        for (unsigned column = 0; column < width; ++column)
          if (((x + static_cast<int>(column)) & 3) == static_cast<int>(plane)) order.push_back(column);
      kob_target target = clip;
      vga_model_reset(255);
      kob_map_mask = clip.mask;
      if (mode == strip_by_strip) {
        for (unsigned column : order)
          kob_draw_strip(&target, sprite.data + sprite.strip[column], height, x + static_cast<int>(column), y);
      } else {
        (mode == plain ? kob_draw : kob_draw_mirrored)(&target, &sprite, x, y);
      }
      Drawn expected = drawn(kob_map_mask);

      vga_model_reset(255);
      cpu16_place_target(cpu, clip, target_at);
      std::vector<std::vector<uint16_t>> calls;
      if (mode == strip_by_strip) {
        for (unsigned column : order) {
          calls.push_back({target_at, static_cast<uint16_t>(data_at + sprite.strip[column]),
                           static_cast<uint16_t>(height), static_cast<uint16_t>(x + static_cast<int>(column)),
                           static_cast<uint16_t>(y)});
        }
      } else {
        calls.push_back({target_at, descriptor_at, static_cast<uint16_t>(x), static_cast<uint16_t>(y)});
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

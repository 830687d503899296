// The drawers' speed on the emulated 386: each draw of flat32_draws.h, the
// bench sprites through flat32/libmodex32.a's strip drawer and compiled
// code, within its bound of instructions per visible opaque pixel, storing
// each visible opaque pixel once with four plane selects.
#include <gtest/gtest.h>

#include "bench/bench_image.h"
#include "bench/flat32_draws.h"

namespace {

TEST(Flat32Speed, EachDrawWithinItsBound) {
  Cpu386 cpu;
  ASSERT_TRUE(cpu.load_elf(FLAT32_DRIVER)) << cpu.error;
  for (const Flat32Draw& row : flat32_draws) {
    SCOPED_TRACE(std::string(row.image) + ", " + row.where);
    std::vector<uint8_t> file;
    ASSERT_TRUE(compile_bench_image(BENCH_IMAGES_DIR, row.image, file));
    std::vector<kob_size> strips(KOB_MAX_WIDTH);
    kob_sprite sprite;
    kob_fault fault;
    ASSERT_EQ(kob_open(&sprite, file.data(), file.size(), strips.data(), KOB_MAX_WIDTH, &fault), KOB_OK);
    for (bool compiled : {false, true}) {
      double bound = compiled ? row.compiled : row.strips;
      if (bound == 0) continue;
      SCOPED_TRACE(compiled ? "compiled" : "strips");
      Flat32Count count = count_flat32_draw(cpu, sprite, file.size(), row, compiled);
      ASSERT_TRUE(count.counts.returned) << count.counts.error;
      EXPECT_LE(double(count.counts.instructions) / double(count.visible), bound);
      EXPECT_EQ(count.counts.selects, 4u);
      if (!compiled) {
        EXPECT_EQ(count.counts.stores, count.visible);
      }
    }
  }
}

}  // namespace

// Draws each benchmark image's sprite on the in-memory VGA and reports, per
// draw, the video stores and plane selects against the opaque pixels on
// screen: whole on a page, centred (the large images clipped on all four
// edges), and half off the top-left corner.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_image.h"
#include "modex/kob.h"
#include "modex/vgamodel.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

namespace {

const char* const images[] = {"sprite-32x32", "sheet-255x128", "sheet-511x256", "flat-511x256", "noise-511x256"};

// The image's sprite, compiled and opened.
bool load_sprite(const char* name, std::vector<uint8_t>& file, kob_sprite& sprite) {
  static kob_size strips[KOB_MAX_WIDTH];
  kob_fault fault;
  return compile_bench_image(BENCH_IMAGES_DIR, name, file) &&
         kob_open(&sprite, file.data(), file.size(), strips, KOB_MAX_WIDTH, &fault) == KOB_OK;
}

// Opaque pixels of the sprite that fall on the 320 x 240 screen at (x, y).
double opaque_on_screen(int x, int y) {
  double count = 0;
  const Image& image = src_image;
  for (uint32_t row = 0; row < strip_height_for(image.height); ++row) {
    for (uint32_t column = 0; column < image.width; ++column) {
      int sx = x + static_cast<int>(column), sy = y + static_cast<int>(row);
      bool on_screen = sx >= 0 && sx < KOB_SCREEN_WIDTH && sy >= 0 && sy < KOB_SCREEN_HEIGHT;
      if (on_screen && image.pixels[row * image.stride + column] != image.transparent) ++count;
    }
  }
  return count;
}

void BM_Draw(benchmark::State& state, const char* name, bool corner) {
  static kob_sprite sprite;
  std::vector<uint8_t> file;
  if (!load_sprite(name, file, sprite)) {
    state.SkipWithError("cannot compile the image");
    return;
  }
  int x = corner ? -static_cast<int>(sprite.width / 2) : (KOB_SCREEN_WIDTH - static_cast<int>(sprite.width)) / 2;
  int y = corner ? -static_cast<int>(sprite.height / 2) : (KOB_SCREEN_HEIGHT - static_cast<int>(sprite.height)) / 2;
  kob_target target;
  kob_target_init(&target, 0);
  vga_model_reset(0);
  for (auto _ : state) {
    kob_map_mask = 0;  // as if the engine had written the map mask since
    kob_draw(&target, &sprite, x, y);
    benchmark::ClobberMemory();
  }
  double draws = static_cast<double>(state.iterations());
  state.counters["opaque"] = opaque_on_screen(x, y);
  state.counters["stores"] = static_cast<double>(vga.stores) / draws;
  state.counters["selects"] = static_cast<double>(vga.selects) / draws;
}

const bool registered = [] {
  for (const char* name : images) {
    benchmark::RegisterBenchmark((std::string("draw/centred/") + name).c_str(), BM_Draw, name, false);
    benchmark::RegisterBenchmark((std::string("draw/corner/") + name).c_str(), BM_Draw, name, true);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

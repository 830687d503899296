// Times the two halves of a conversion on each benchmark image: decoding
// (reading the file and expanding it into the pixel buffer) and encoding
// (compiling every column into its strip), in pixels per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "image.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

namespace {

const char* const images[] = {"sprite-32x32", "sheet-255x128", "sheet-511x256", "flat-511x256", "noise-511x256"};

std::string image_path(const char* name) { return std::string(BENCH_IMAGES_DIR) + "/" + name + ".pcx"; }

void release() {
  release_src_pcx();
  free(src_image.pixels);
  src_image.pixels = nullptr;
}

bool load_and_decode(const std::string& path) {
  release();
  return read_src_pcx(path.c_str()) && decode_src_pcx();
}

void set_pixel_rate(benchmark::State& state) {
  double pixels = static_cast<double>(src_image.width) * src_image.height;
  state.counters["pixels"] = benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Decode(benchmark::State& state, const char* name) {
  std::string path = image_path(name);
  for (auto _ : state) {
    if (!load_and_decode(path)) state.SkipWithError("cannot decode");
  }
  set_pixel_rate(state);
  release();
}

void BM_Encode(benchmark::State& state, const char* name) {
  if (!load_and_decode(image_path(name))) state.SkipWithError("cannot decode");
  for (auto _ : state) {
    for (uint32_t column = 0; column < src_image.width; ++column) {
      benchmark::DoNotOptimize(encode_strip(src_image, column));
    }
    benchmark::ClobberMemory();
  }
  set_pixel_rate(state);
  release();
}

const bool registered = [] {
  for (const char* name : images) {
    benchmark::RegisterBenchmark((std::string("decode/") + name).c_str(), BM_Decode, name);
    benchmark::RegisterBenchmark((std::string("encode/") + name).c_str(), BM_Encode, name);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

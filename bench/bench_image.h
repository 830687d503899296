// The benchmarks' sprites: each bench image compiled by the stages, as
// pcx2kob compiles it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

// Compiles `dir`/`name`.pcx into `dir`/`name`.kob and reads the sprite file
// into `file`; the image stays in src_image. False when a stage fails.
inline bool compile_bench_image(const std::string& dir, const char* name, std::vector<uint8_t>& file) {
  std::string pcx = dir + "/" + name + ".pcx", kob = dir + "/" + name + ".kob";
  release_src_pcx();
  free(src_image.pixels);
  src_image.pixels = nullptr;
  transparent_color = 0;
  if (!read_src_pcx(pcx.c_str()) || !decode_src_pcx() || !write_sprite(kob.c_str(), src_image)) return false;
  FILE* f = fopen(kob.c_str(), "rb");
  if (!f) return false;
  file.resize(kob_max_file_size);
  file.resize(fread(file.data(), 1, file.size(), f));
  fclose(f);
  return true;
}

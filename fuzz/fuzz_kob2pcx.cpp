// libFuzzer target: arbitrary bytes as a KOB sprite through the sprite
// reader, with the fill index taken from the last byte. A sprite the reader
// accepts is written as a PCX file, which the PCX reader must decode back to
// exactly the painted pixels.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/quietly.h"
#include "image.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

namespace {

int sprite_fd = -1, image_fd = -1;
char sprite_path[64], image_path[64];
uint8_t palette[pcx_palette_size];

void check_pcx_matches_sprite() {
  release_src_pcx();
  free(src_image.pixels);
  src_image.pixels = nullptr;
  if (ftruncate(image_fd, 0) != 0) abort();
  if (!quietly([] { return write_pcx(image_path, src_kob, src_kob_width, src_kob_height, palette); })) abort();
  if (!quietly([] { return read_src_pcx(image_path) && decode_src_pcx(); })) abort();
  if (src_image.width != src_kob_width || src_image.height != src_kob_height) abort();
  for (uint32_t y = 0; y < src_kob_height; ++y) {
    if (memcmp(src_image.pixels + y * src_image.stride, src_kob + y * src_kob_width, src_kob_width) != 0) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sprite_fd = memfd_create("kob2pcx-fuzz-sprite", 0);
  image_fd = memfd_create("kob2pcx-fuzz-image", 0);
  if (sprite_fd < 0 || image_fd < 0) abort();
  snprintf(sprite_path, sizeof sprite_path, "/proc/self/fd/%d", sprite_fd);
  snprintf(image_path, sizeof image_path, "/proc/self/fd/%d", image_fd);
  for (uint32_t i = 0; i < pcx_palette_size; ++i) palette[i] = static_cast<uint8_t>(i);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ftruncate(sprite_fd, 0) != 0) abort();
  if (size > 0 && pwrite(sprite_fd, data, size, 0) != static_cast<ssize_t>(size)) abort();
  free(src_kob);
  src_kob = nullptr;
  transparent_color = size > 0 ? data[size - 1] : 0;
  if (quietly([] { return read_sprite(sprite_path); })) check_pcx_matches_sprite();
  return 0;
}

// libFuzzer target: arbitrary bytes as a PCX file through the real stages,
// intake, decoding, and the encoding of every column, with the transparent
// index taken from the header's version byte (which the reader never looks
// at). The pixels must match a plain reference decoder, and every strip is
// walked and must paint back exactly its column. Bytes that start with the
// PNG signature go through the PNG reader instead, and every column it
// decodes is walked the same way.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/quietly.h"
#include "image.h"
#include "options.h"
#include "pcx/pcx.h"
#include "png/png.h"
#include "sprite/sprite.h"
#include "strip_walker.h"

namespace {

int input_fd = -1;
char input_path[64];

// The input goes through a file in memory, since the reader takes a path.
void put_input(const uint8_t* data, size_t size) {
  if (ftruncate(input_fd, 0) != 0) abort();
  if (size > 0 && pwrite(input_fd, data, size, 0) != static_cast<ssize_t>(size)) abort();
}

bool run_quietly(bool (*stage)(const char*), const char* path) {
  return quietly([&] { return stage(path); });
}

bool decode(const char*) { return decode_src_pcx(); }

// The pixels the data decodes to, byte by byte the slow way, up to where the
// data ends: the image data runs from byte 128 to the palette marker 769
// bytes from the end, or to the end.
std::vector<uint8_t> reference_pixels(const uint8_t* data, size_t size) {
  const size_t total = static_cast<size_t>(src_image.stride) * src_image.height;
  std::vector<uint8_t> pixels;
  const uint8_t* in = data + 128;
  const uint8_t* end = data[size - 769] == 12 ? data + size - 769 : data + size;
  while (in < end && pixels.size() < total) {
    uint8_t byte = *in++;
    size_t count = 1;
    if (byte >= 192) {
      if (in == end) break;
      count = byte & 63;
      byte = *in++;
    }
    for (; count > 0 && pixels.size() < total; --count) pixels.push_back(byte);
  }
  return pixels;
}

// The decoded pixels match the reference, and the buffer is zero for a
// stretch after them (a fixed-size run store must leave nothing there).
void check_decoded(const std::vector<uint8_t>& expected) {
  if (!std::equal(expected.begin(), expected.end(), src_image.pixels)) abort();
  const size_t total = static_cast<size_t>(src_image.stride) * src_image.height;
  const size_t stretch_end = std::min(total, expected.size() + 256);
  for (size_t i = expected.size(); i < stretch_end; ++i) {
    if (src_image.pixels[i] != 0) abort();
  }
}

void check_every_column() {
  std::vector<int> painted;
  const uint32_t strip_height = strip_height_for(src_image.height);
  for (uint32_t x = 0; x < src_image.width; ++x) {
    unsigned length = encode_strip(src_image, x);
    size_t walked = 0;
    if (!walk_strip(out_strip, length, strip_height, painted, walked).empty()) abort();
    if (walked != length) abort();
    for (uint32_t y = 0; y < strip_height; ++y) {
      uint8_t pixel = src_image.pixels[y * src_image.stride + x];
      if (painted[y] != (pixel == src_image.transparent ? -1 : pixel)) abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  input_fd = memfd_create("pcx2kob-fuzz", 0);
  if (input_fd < 0) abort();
  snprintf(input_path, sizeof input_path, "/proc/self/fd/%d", input_fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  put_input(data, size);
  release_src_pcx();
  free(src_image.pixels);
  src_image.pixels = nullptr;
  transparent_color = size > 1 ? data[1] : 0;
  if (input_is_png(input_path)) {
    if (run_quietly(read_src_png, input_path)) check_every_column();
    return 0;
  }
  if (!run_quietly(read_src_pcx, input_path)) return 0;
  std::vector<uint8_t> expected = reference_pixels(data, size);
  if (!run_quietly(decode, nullptr)) return 0;
  check_decoded(expected);
  check_every_column();
  return 0;
}

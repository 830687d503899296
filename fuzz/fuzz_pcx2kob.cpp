// libFuzzer target: arbitrary bytes as a PCX file through the real stages,
// intake, decoding, and the encoding of every column, with the transparent
// index taken from the header's version byte (which the reader never looks
// at). Every strip is walked and must paint back exactly its column.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pcx/pcx.h"
#include "pcx2kob.h"
#include "sprite/sprite.h"
#include "strip_walker.h"

// The driver owns this setting; the fuzzer stands in for it.
uint8_t transparent_color;

namespace {

int input_fd = -1;
char input_path[64];
int quiet_fd = -1;

// The input goes through a file in memory, since the reader takes a path.
void put_input(const uint8_t* data, size_t size) {
  if (ftruncate(input_fd, 0) != 0) abort();
  if (size > 0 && pwrite(input_fd, data, size, 0) != static_cast<ssize_t>(size)) abort();
}

// The stages' messages are expected here; keep them off the fuzzer's stderr.
bool run_quietly(bool (*stage)(const char*), const char* path) {
  int saved = dup(STDERR_FILENO);
  dup2(quiet_fd, STDERR_FILENO);
  bool ok = stage(path);
  dup2(saved, STDERR_FILENO);
  close(saved);
  return ok;
}

bool decode(const char*) { return decode_src_pcx(); }

void check_every_column() {
  std::vector<int> painted;
  for (uint32_t x = 0; x < out_strips; ++x) {
    unsigned length = encode_strip(x);
    size_t walked = 0;
    if (!walk_strip(out_strip, length, out_strip_height, painted, walked).empty()) abort();
    if (walked != length) abort();
    for (uint32_t y = 0; y < out_strip_height; ++y) {
      uint8_t pixel = src_pcx[y * src_pcx_stride + x];
      if (painted[y] != (pixel == transparent_color ? -1 : pixel)) abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  input_fd = memfd_create("pcx2kob-fuzz", 0);
  quiet_fd = open("/dev/null", O_WRONLY);
  if (input_fd < 0 || quiet_fd < 0) abort();
  snprintf(input_path, sizeof input_path, "/proc/self/fd/%d", input_fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  put_input(data, size);
  free(src_pcx);
  src_pcx = nullptr;
  transparent_color = size > 1 ? data[1] : 0;
  if (!run_quietly(read_src_pcx, input_path)) return 0;
  if (!run_quietly(decode, nullptr)) return 0;
  check_every_column();
  return 0;
}
